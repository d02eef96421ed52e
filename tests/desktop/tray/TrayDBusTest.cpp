// The tray icon as a desktop sees it: the program's real window and QSystemTrayIcon on an X
// display, their item registered over the session bus with a fake notification-area host, and
// its hint and activation read and driven through the item's D-Bus interface.
#include "TrayDesktop.h"

#include "desktop/DesktopWindow.h"
#include "ui/UiTestUtil.h"
#include "ui/uTrayIcon.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// Calls a method without blocking this thread (the item answers from it) and waits for the answer.
QDBusMessage CallAndWait(const QDBusMessage& call) {
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call, 5000);
    WaitFor([&] { return pending.isFinished(); }, 10000);
    return pending.isFinished() ? pending.reply() : QDBusMessage();
}

// The connections on the bus that serve a tray item now. Qt registers an item under its
// connection's unique name, so every connection is asked.
QStringList ItemsOnTheBus() {
    QStringList items;
    const QDBusMessage reply = CallAndWait(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")));
    for (const QString& name : reply.arguments().value(0).toStringList()) {
        if (!name.startsWith(QLatin1Char(':')) || name == QDBusConnection::sessionBus().baseService())
            continue;
        QDBusMessage get = QDBusMessage::createMethodCall(
            name, kItemPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << kItemInterface << QStringLiteral("Status");
        if (CallAndWait(get).type() == QDBusMessage::ReplyMessage)
            items << name;
    }
    return items;
}

class TTrayDBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TrayDesktopMissing().empty())
            GTEST_SKIP() << TrayDesktopMissing();
    }

    // The host must be there before the window: Qt looks for it when the first icon is made.
    void StartWatcher() {
        ASSERT_TRUE(Watcher.Start({"/proc/self/exe", kFakeWatcherArg}));
        ASSERT_EQ(Watcher.ReadLine(std::chrono::seconds(20)), "ready");
    }

    // The service of the next item registered with the watcher, or "" when none comes in time.
    std::string NextRegisteredItem() {
        std::string line;
        WaitFor([&] { return !(line = Watcher.ReadLine(std::chrono::milliseconds(1))).empty(); }, 10000);
        return line.rfind("item ", 0) == 0 ? line.substr(5) : std::string();
    }

    QVariant ItemProperty(const std::string& service, const char* name) {
        QDBusMessage get = QDBusMessage::createMethodCall(QString::fromStdString(service), kItemPath,
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
        get << kItemInterface << QString::fromLatin1(name);
        const QDBusMessage reply = CallAndWait(get);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {};
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    // The text of the item's tool tip: (icon name, icon pixmaps, title, description).
    QString ToolTipTitle(const std::string& service) {
        const QVariant value = ItemProperty(service, "ToolTip");
        if (!value.canConvert<QDBusArgument>())
            return QStringLiteral("(no tool tip)");
        const QDBusArgument arg = value.value<QDBusArgument>();
        QString iconName, title, description;
        arg.beginStructure();
        arg >> iconName;
        arg.beginArray();
        while (!arg.atEnd()) {
            int width = 0, height = 0;
            QByteArray pixels;
            arg.beginStructure();
            arg >> width >> height >> pixels;
            arg.endStructure();
        }
        arg.endArray();
        arg >> title >> description;
        arg.endStructure();
        return title;
    }

    // The item's pictures as (width, height, ARGB bytes) entries.
    QList<QByteArray> IconPixmaps(const std::string& service, QList<QSize>* sizes = nullptr) {
        QList<QByteArray> pictures;
        const QVariant value = ItemProperty(service, "IconPixmap");
        if (!value.canConvert<QDBusArgument>())
            return pictures;
        const QDBusArgument arg = value.value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            int width = 0, height = 0;
            QByteArray pixels;
            arg.beginStructure();
            arg >> width >> height >> pixels;
            arg.endStructure();
            pictures << pixels;
            if (sizes)
                *sizes << QSize(width, height);
        }
        arg.endArray();
        return pictures;
    }

    struct TMenuEntry {
        int Id = 0;
        QVariantMap Properties;
        std::vector<TMenuEntry> Children;
    };
    static void ReadMenuEntry(const QDBusArgument& arg, TMenuEntry& entry) {
        arg.beginStructure();
        arg >> entry.Id >> entry.Properties;
        arg.beginArray();
        while (!arg.atEnd()) {
            QDBusVariant child;
            arg >> child;
            entry.Children.emplace_back();
            ReadMenuEntry(child.variant().value<QDBusArgument>(), entry.Children.back());
        }
        arg.endArray();
        arg.endStructure();
    }

    // What a host does to open the item's menu: tell it the menu is about to show, then read it.
    TMenuEntry OpenMenu(const std::string& service) {
        const QString path = ItemProperty(service, "Menu").value<QDBusObjectPath>().path();
        const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");
        QDBusMessage aboutToShow = QDBusMessage::createMethodCall(
            QString::fromStdString(service), path, menuInterface, QStringLiteral("AboutToShow"));
        aboutToShow << 0;
        CallAndWait(aboutToShow);
        QDBusMessage getLayout = QDBusMessage::createMethodCall(QString::fromStdString(service), path,
                                                                menuInterface, QStringLiteral("GetLayout"));
        getLayout << 0 << -1 << QStringList();
        const QDBusMessage reply = CallAndWait(getLayout);
        TMenuEntry root;
        if (reply.arguments().size() == 2)
            ReadMenuEntry(reply.arguments()[1].value<QDBusArgument>(), root);
        MenuPath = path;
        return root;
    }
    // Clicks a menu entry as a host does.
    void ClickMenuEntry(const std::string& service, int id) {
        QDBusMessage event =
            QDBusMessage::createMethodCall(QString::fromStdString(service), MenuPath,
                                           QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
        event << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
        CallAndWait(event);
    }

    void ShowAndMinimise(TfrmMain& frm) {
        frm.show();
        ASSERT_TRUE(WaitFor([&] { return frm.isVisible(); }));
        frm.btnMinimize->click();
    }

    QString MenuPath;
    TChildProcess Watcher;
    TFakeSoundPlayer Sound;
    TDesktopWindow Window{Sound};
};

TEST_F(TTrayDBusTest, ItemAppearsAtTheFirstMinimiseAndFollowsTheTrayState) {
    StartWatcher();
    TfrmMain& frm = Window.Start();
    ASSERT_TRUE(frm.IsTrayAvailable()) << "the fake host was not found";
    frm.show();
    ASSERT_TRUE(WaitFor([&] { return frm.isVisible(); }));
    frm.SetTrayState(trayScanning);
    // A shown icon serves its item from the moment it is shown, so none here means none shown.
    EXPECT_TRUE(ItemsOnTheBus().isEmpty()) << "no icon before the first minimise";

    frm.btnMinimize->click();
    EXPECT_FALSE(frm.isVisible()) << "hidden, not just minimised";
    const std::string item = NextRegisteredItem();
    ASSERT_FALSE(item.empty()) << "the icon registered no item with the host";
    EXPECT_EQ(ItemsOnTheBus(), QStringList{QString::fromStdString(item)});
    EXPECT_EQ(ToolTipTitle(item), "Skanuje w poszukiwaniu dialerów")
        << "a hint set before shows with the icon";
    EXPECT_EQ(ItemProperty(item, "Status").toString(), "Active");

    QList<QSize> sizes;
    const QList<QByteArray> scanning = IconPixmaps(item, &sizes);
    ASSERT_FALSE(scanning.isEmpty()) << "the item has no picture";
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));

    frm.SetTrayState(trayReset);
    EXPECT_TRUE(WaitFor([&] { return ToolTipTitle(item) == "QmVardel włączony"; }));
    const QList<QByteArray> idle = IconPixmaps(item);
    EXPECT_NE(idle, scanning);
    frm.SetConnected("0202122");
    EXPECT_TRUE(WaitFor([&] { return ToolTipTitle(item) == "Połączony z numerem: 0202122"; }))
        << ToolTipTitle(item).toStdString();
    EXPECT_TRUE(WaitFor([&] { return IconPixmaps(item) != idle; })) << "the connected picture did not show";
    frm.SetTrayState(trayAlarm);
    EXPECT_TRUE(WaitFor([&] { return ToolTipTitle(item) == "Alarm - kliknij aby sprawdzić"; }))
        << ToolTipTitle(item).toStdString();
    frm.SetTrayState(trayReset);
    EXPECT_TRUE(WaitFor([&] { return ToolTipTitle(item) == "Połączony z numerem: 0202122"; }))
        << "reset while connected goes back to connected";
}

TEST_F(TTrayDBusTest, ActivatingTheItemShowsTheWindowAndTheIconStays) {
    StartWatcher();
    TfrmMain& frm = Window.Start();
    ShowAndMinimise(frm);
    const std::string item = NextRegisteredItem();
    ASSERT_FALSE(item.empty());
    ASSERT_FALSE(frm.isVisible());

    QDBusMessage activate = QDBusMessage::createMethodCall(QString::fromStdString(item), kItemPath,
                                                           kItemInterface, QStringLiteral("Activate"));
    activate << 10 << 10;
    EXPECT_EQ(CallAndWait(activate).type(), QDBusMessage::ReplyMessage);
    // A single click counts once the double-click time is over; that timer is the test's.
    auto& clickTimer = static_cast<TFakeTimer&>(frm.TrayIcon()->ClickTimer());
    ASSERT_TRUE(WaitFor([&] { return clickTimer.IsActive(); })) << "the click did not reach the icon";
    EXPECT_FALSE(frm.isVisible());
    clickTimer.Fire();
    EXPECT_TRUE(frm.isVisible());
    EXPECT_FALSE(frm.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(ItemsOnTheBus(), QStringList{QString::fromStdString(item)}) << "the icon stays";

    // Minimised again, the same item goes on; no second one is made.
    frm.btnMinimize->click();
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(ItemsOnTheBus(), QStringList{QString::fromStdString(item)});
}

TEST_F(TTrayDBusTest, TheHostSeesTheMenuAndItsItemsAct) {
    StartWatcher();
    TfrmMain& frm = Window.Start();
    ShowAndMinimise(frm);
    const std::string item = NextRegisteredItem();
    ASSERT_FALSE(item.empty());

    TMenuEntry menu = OpenMenu(item);
    ASSERT_EQ(menu.Children.size(), 4u);
    EXPECT_EQ(menu.Children[0].Properties.value("label").toString(), "Przerwij połączenie");
    EXPECT_EQ(menu.Children[1].Properties.value("label").toString(), "Otwórz");
    EXPECT_EQ(menu.Children[2].Properties.value("type").toString(), "separator");
    EXPECT_EQ(menu.Children[3].Properties.value("label").toString(), "Wyłącz vardela");
    // Qt leaves out "enabled" for an enabled entry.
    EXPECT_FALSE(menu.Children[0].Properties.value("enabled", true).toBool()) << "greyed while not connected";

    frm.SetConnected("0202122");
    menu = OpenMenu(item);
    ASSERT_EQ(menu.Children.size(), 4u);
    EXPECT_TRUE(menu.Children[0].Properties.value("enabled", true).toBool()) << "enabled while connected";

    ClickMenuEntry(item, menu.Children[1].Id);
    EXPECT_TRUE(WaitFor([&] { return frm.isVisible(); })) << "\"Otwórz\" did not show the window";
    EXPECT_EQ(Window.Terminations, 0);
    ClickMenuEntry(item, menu.Children[3].Id);
    EXPECT_TRUE(WaitFor([&] { return Window.Terminations == 1; }))
        << "\"Wyłącz vardela\" did not end the program";
}

TEST_F(TTrayDBusTest, ARestartedHostGetsTheIconAgainAndTheEndRemovesIt) {
    StartWatcher();
    TfrmMain& frm = Window.Start();
    ShowAndMinimise(frm);
    const std::string item = NextRegisteredItem();
    ASSERT_FALSE(item.empty());

    // The panel restarts: the new host learns of the icon without the program doing anything.
    Watcher.Stop();
    StartWatcher();
    EXPECT_EQ(NextRegisteredItem(), item);

    Window.Frm.reset();
    EXPECT_TRUE(WaitFor([&] { return ItemsOnTheBus().isEmpty(); })) << "the icon outlived the program";
}

// Last in the file on purpose: Qt remembers for the whole process that no host was found.
TEST_F(TTrayDBusTest, WithoutAHostTheWindowMinimisesInsteadOfHiding) {
    TfrmMain& frm = Window.Start();
    EXPECT_FALSE(frm.IsTrayAvailable());
    ShowAndMinimise(frm);
    EXPECT_TRUE(frm.isVisible()) << "the user must be able to get the window back";
    EXPECT_TRUE(frm.isMinimized());
    EXPECT_TRUE(ItemsOnTheBus().isEmpty());
}

} // namespace
