#pragma once

#include "platform/MessageBox.h"

#include <deque>
#include <string>
#include <vector>

struct CRecordedMessage
{
    std::string m_text;
    unsigned m_type = 0;

    bool operator==(const CRecordedMessage&) const = default;
};

// Records every message box shown while it lives and answers each with the
// next answer queued, or IDOK when none is. Restores the previous handler.
class CMessageRecorder
{
public:
    CMessageRecorder();
    ~CMessageRecorder();
    CMessageRecorder(const CMessageRecorder&) = delete;
    CMessageRecorder& operator=(const CMessageRecorder&) = delete;

    void QueueAnswer(int answer) { m_answers.push_back(answer); }

    std::vector<CRecordedMessage> m_messages;

private:
    std::deque<int> m_answers;
    MessageBoxHandler m_previous;
};
