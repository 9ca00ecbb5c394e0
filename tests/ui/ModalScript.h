#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <string>

// Acts on modal dialogs while a test waits in their event loops: every few
// milliseconds it looks at the active modal widget and runs, once, the step
// given for that dialog's class.
class CModalScript
{
public:
    CModalScript()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(5);
    }

    // step(dialog) runs once when a dialog of that class is the modal one.
    void On(const std::string& className, std::function<void(QWidget*)> step) { m_steps[className] = std::move(step); }

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->property("scripted").toBool()) {
            return;
        }
        const auto step = m_steps.find(modal->metaObject()->className());
        if (step != m_steps.end()) {
            modal->setProperty("scripted", true);
            auto action = std::move(step->second);
            m_steps.erase(step);
            action(modal);
        }
    }

    QTimer m_timer;
    std::map<std::string, std::function<void(QWidget*)>> m_steps;
};
