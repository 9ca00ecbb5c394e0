#include "support/MessageRecorder.h"

CMessageRecorder::CMessageRecorder()
{
    m_previous = SetMessageBoxHandler([this](const std::string& text, unsigned type) {
        m_messages.push_back({text, type});
        if (m_answers.empty()) {
            return IDOK;
        }
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
}

CMessageRecorder::~CMessageRecorder()
{
    SetMessageBoxHandler(std::move(m_previous));
}
