#include "ui/uQtEventPump.h"
#include "ui/ufUpdateTab.h"

#include <QApplication>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

TEST(UpdateTab, ShowsTheRunAsItsView) {
    TUpdateTab tab(nullptr);
    IUpdateView& view = tab;
    view.AddLogLine("stara");
    view.ClearLog();
    view.AddLogLine("Pobieranie plików aktualizacji");
    view.AddLogLine("Łączenie z serwerem");
    EXPECT_EQ(tab.memUpdate->toPlainText(),
              QStringLiteral("Pobieranie plików aktualizacji\nŁączenie z serwerem"));
    view.SetUpdateCaption(" Przerwij");
    EXPECT_EQ(tab.btnUpdate->text(), QStringLiteral(" Przerwij"));
    view.SetDatabaseInfo("Data ostatniej aktualizacji: <b>09.12.2026</b>\r\nWersja bazy danych: <b>2.0</b>");
    EXPECT_EQ(tab.labDataVersionInfo->Caption(),
              "Data ostatniej aktualizacji: <b>09.12.2026</b>\r\nWersja bazy danych: <b>2.0</b>");
    EXPECT_FALSE(view.AutoUpdateChecked());
    QCheckBox box;
    box.setChecked(true);
    tab.SetAutoUpdateBox(&box);
    EXPECT_TRUE(view.AutoUpdateChecked());
}

TEST(UpdateTab, EventPumpHandlesEventsAndWakesFromAnotherThread) {
    TQtEventPump pump;
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    pump.ProcessEvents(1000);
    EXPECT_TRUE(handled);

    const auto start = std::chrono::steady_clock::now();
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pump.Wake();
    });
    pump.ProcessEvents(5000);
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}
