#include "ui/FakeUDisks2.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr char SERVICE[] = "org.freedesktop.UDisks2";
constexpr char PATH[] = "/org/freedesktop/UDisks2";

} // namespace

CFakeUDisks2::CFakeUDisks2(const QString& mountRoot)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        m_strError = "no session bus: the tests run under dbus-run-session";
        return;
    }
    const QString parameters = QJsonDocument(QJsonObject{{"mount_root", mountRoot}}).toJson(QJsonDocument::Compact);
    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.setStandardOutputFile(QProcess::nullDevice());
    m_mock.start(LYRAFETCH_PYTHON, {"-m", "dbusmock", "-t", UDISKS2_MOCK, "-p", parameters});
    if (!QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(SERVICE).value(); }, 10000)) {
        m_strError = "python3-dbusmock did not start: " + m_mock.errorString();
    }
}

CFakeUDisks2::~CFakeUDisks2()
{
    m_mock.terminate();
    m_mock.waitForFinished();
}

void CFakeUDisks2::Call(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, PATH, "org.freedesktop.DBus.Mock", method);
    call.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    EXPECT_NE(reply.type(), QDBusMessage::ErrorMessage)
        << method.toStdString() << ": " << reply.errorMessage().toStdString();
}

void CFakeUDisks2::AddDevice(const QString& name, const QString& label, const QString& uuid, quint64 size,
                             const QString& mountPoint)
{
    Call("AddDevice", {name, label, uuid, QVariant::fromValue(size), mountPoint});
}

void CFakeUDisks2::RemoveDevice(const QString& name)
{
    Call("RemoveDevice", {name});
}

void CFakeUDisks2::SetMountPoint(const QString& name, const QString& mountPoint)
{
    Call("SetMountPoint", {name, mountPoint});
}

void CFakeUDisks2::FailNext(const QString& method, const QString& error, const QString& message)
{
    Call("FailNext", {method, error, message});
}
