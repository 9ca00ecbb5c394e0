#pragma once

#include "transfer/FormatProfile.h"

#include <QComboBox>

// A chooser of the format a player's files are written in: the labels of
// FormatProfiles(), in their order.
class CFormatBox : public QComboBox
{
    Q_OBJECT

public:
    explicit CFormatBox(QWidget* parent = nullptr);

    // Shows a profile; formatChosen tells only what the user chooses.
    void Show(const CFormatProfile& profile);

signals:
    // The user chose a profile.
    void formatChosen(const CFormatProfile& profile);
};
