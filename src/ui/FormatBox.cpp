#include "ui/FormatBox.h"

CFormatBox::CFormatBox(QWidget* parent) : QComboBox(parent)
{
    for (const CFormatProfile& profile : FormatProfiles()) {
        addItem(QString::fromUtf8(profile.m_label.data(), static_cast<qsizetype>(profile.m_label.size())));
    }
    setToolTip("The format the files are written in on the Jukebit: lossless files (FLAC, WAV, ALAC...) are "
               "converted, every other file is copied as it is");
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(this, &QComboBox::activated, this,
            [this](int index) { emit formatChosen(FormatProfiles()[static_cast<std::size_t>(index)]); });
}

void CFormatBox::Show(const CFormatProfile& profile)
{
    setCurrentIndex(static_cast<int>(&profile - FormatProfiles().data()));
}
