// The fake notification-area host: just enough of org.kde.StatusNotifierWatcher for a tray icon
// to find a host and register its item, and a line on stdout for each registration.
#include "TrayDesktop.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

class TFakeWatcher : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override {
        return QStringLiteral(R"(<interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
</interface>
)");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (message.interface() == kPropertiesInterface) {
            const QVariantList args = message.arguments();
            if (member == QLatin1String("Get") && args.size() == 2) {
                const QVariant value = Property(args[1].toString());
                if (!value.isValid())
                    return false;
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
                return true;
            }
            if (member == QLatin1String("GetAll")) {
                QVariantMap all;
                for (const char* name :
                     {"RegisteredStatusNotifierItems", "IsStatusNotifierHostRegistered", "ProtocolVersion"})
                    all.insert(QLatin1String(name), Property(QLatin1String(name)));
                connection.send(message.createReply(QVariant::fromValue(all)));
                return true;
            }
            return false;
        }
        if (member == QLatin1String("RegisterStatusNotifierItem") && message.arguments().size() == 1) {
            // An item names its bus name, or only its object path on the caller's connection.
            QString service = message.arguments()[0].toString();
            if (service.startsWith(QLatin1Char('/')))
                service = message.service() + service;
            FItems << service;
            connection.send(message.createReply());
            connection.send(QDBusMessage::createSignal(kWatcherPath, kWatcherService,
                                                       QStringLiteral("StatusNotifierItemRegistered"))
                            << service);
            std::printf("item %s\n", service.toUtf8().constData());
            std::fflush(stdout);
            return true;
        }
        if (member == QLatin1String("RegisterStatusNotifierHost")) {
            connection.send(message.createReply());
            return true;
        }
        return false;
    }

private:
    QVariant Property(const QString& name) const {
        if (name == QLatin1String("RegisteredStatusNotifierItems"))
            return FItems;
        if (name == QLatin1String("IsStatusNotifierHostRegistered"))
            return true;
        if (name == QLatin1String("ProtocolVersion"))
            return 0;
        return {};
    }

    QStringList FItems;
};

} // namespace

int RunFakeWatcher(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    TFakeWatcher watcher;
    if (!bus.isConnected() || !bus.registerVirtualObject(kWatcherPath, &watcher) ||
        !bus.registerService(kWatcherService)) {
        std::fprintf(stderr, "fake watcher: cannot serve on the session bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
