#pragma once

#include "app/LyrafetchDoc.h"
#include "platform/MessageBox.h"

// Loads the document as the program does: the message the load ends with is
// shown. True when the load left a model.
inline bool LoadDocument(CLyrafetchDoc& doc)
{
    if (const std::optional<CMessage> message = doc.Load()) {
        ShowMessageBox(*message);
    }
    return doc.m_pModel != nullptr;
}
