// The message box driven on a real offscreen dialog: keys, buttons, titles, icons, placement and
// skins. Each box is driven from the shown hook; a bounded fallback closes a box that a failing test
// left open, so that a fault shows as a wrong result instead of a hang.
#include "components/bsMessages.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using ::testing::ElementsAre;

namespace {

constexpr int kLeftOpen = -1;

int RunBox(TbsSkinMessage& box, const std::string& text, int kind, unsigned buttons,
           const std::function<void(QDialog*)>& drive) {
    TbsSkinMessage::OnBoxShown = [&](QDialog* dialog) {
        QTimer::singleShot(5000, dialog, [dialog] { dialog->done(kLeftOpen); });
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
        drive(dialog);
    };
    const int result = box.ShowMessageBox(text, kind, buttons);
    TbsSkinMessage::OnBoxShown = nullptr;
    return result;
}

// Sends a key where a user's key would go: to the focused control of the box.
void Press(QDialog* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr || target->window() != dialog)
        target = dialog;
    QTest::keyClick(target, key, modifiers);
}

std::vector<QPushButton*> ButtonsLeftToRight(QDialog* dialog) {
    std::vector<QPushButton*> buttons;
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        buttons.push_back(button);
    std::sort(buttons.begin(), buttons.end(), [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
    return buttons;
}

QSize TextSize(const QFont& font, const QString& text) {
    return QFontMetrics(font).size(0, text);
}

TEST(bsMessagesTest, CloseQuestionAnswersYesToEnterAndNoToEscape) {
    TbsSkinMessage box;
    QString title;
    std::vector<QString> captions;
    std::vector<QKeySequence> accelerators;
    bool hasIcon = false;
    QString focused;
    const int enter =
        RunBox(box, "Czy wyłączyć QmVardel?", mtConfirmation, mbYes | mbNo, [&](QDialog* dialog) {
            title = dialog->windowTitle();
            for (QPushButton* button : ButtonsLeftToRight(dialog)) {
                captions.push_back(button->text());
                accelerators.push_back(QKeySequence::mnemonic(button->text()));
            }
            auto* image = dialog->findChild<QLabel*>("Image");
            hasIcon =
                image != nullptr && !image->pixmap().isNull() && image->geometry() == QRect(5, 5, 32, 32);
            focused = QApplication::focusWidget() != nullptr ? QApplication::focusWidget()->objectName()
                                                             : QString();
            Press(dialog, Qt::Key_Return);
        });
    EXPECT_EQ(enter, mrYes);
    EXPECT_EQ(title, "Potwierdzenie");
    EXPECT_THAT(captions, ElementsAre("&Tak", "&Nie"));
    EXPECT_THAT(accelerators,
                ElementsAre(QKeySequence(Qt::ALT | Qt::Key_T), QKeySequence(Qt::ALT | Qt::Key_N)));
    EXPECT_TRUE(hasIcon);
    EXPECT_EQ(focused, "Yes");

    EXPECT_EQ(RunBox(box, "Czy wyłączyć QmVardel?", mtConfirmation, mbYes | mbNo,
                     [](QDialog* dialog) { Press(dialog, Qt::Key_Escape); }),
              mrNo);
    EXPECT_EQ(RunBox(box, "Czy wyłączyć QmVardel?", mtConfirmation, mbYes | mbNo,
                     [](QDialog* dialog) { Press(dialog, Qt::Key_N, Qt::AltModifier); }),
              mrNo);
    // As in the system's own boxes the accelerator letter works without Alt.
    EXPECT_EQ(RunBox(box, "Czy wyłączyć QmVardel?", mtConfirmation, mbYes | mbNo,
                     [](QDialog* dialog) { Press(dialog, Qt::Key_N); }),
              mrNo);
}

TEST(bsMessagesTest, OkOnlyBoxAnswersOneToEnterAndToEscape) {
    TbsSkinMessage box;
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        EXPECT_EQ(RunBox(box, "Żadne połączenie nie zostało wybrane", mtWarning, mbOK,
                         [key](QDialog* dialog) { Press(dialog, key); }),
                  mrOk)
            << key;
    }
}

TEST(bsMessagesTest, EveryButtonHasItsNameCaptionAndResult) {
    TbsSkinMessage box;
    for (const TMessageButtonInfo& info : kMessageButtons) {
        if (info.Bit == mbHelp)
            continue;
        QString name;
        QString caption;
        const int result =
            RunBox(box, "Tekst", mtInformation, kAllMessageButtons & ~mbHelp, [&](QDialog* dialog) {
                auto* button =
                    dialog->findChild<QPushButton*>(QString::fromUtf8(info.Name.data(), info.Name.size()));
                if (button == nullptr)
                    return;
                name = button->objectName();
                caption = button->text();
                QTest::mouseClick(button, Qt::LeftButton);
            });
        EXPECT_EQ(result, info.Result) << info.Name;
        EXPECT_EQ(caption.toStdString(), info.Caption) << info.Name;
    }
}

TEST(bsMessagesTest, HelpOpensTheHelpAndLeavesTheBoxOpen) {
    TbsSkinMessage box;
    int helpCalls = 0;
    box.OnHelp = [&] {
        ++helpCalls;
    };
    bool openAfterHelp = false;
    const int result = RunBox(box, "Tekst", mtInformation, mbOK | mbHelp, [&](QDialog* dialog) {
        auto* help = dialog->findChild<QPushButton*>("Help");
        ASSERT_NE(help, nullptr);
        EXPECT_EQ(help->text(), "&Pomoc");
        QTest::mouseClick(help, Qt::LeftButton);
        openAfterHelp = dialog->isVisible();
        // Help now has the focus, so Enter would press it again.
        Press(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(helpCalls, 1);
    EXPECT_TRUE(openAfterHelp);
    EXPECT_EQ(result, mrOk);
}

TEST(bsMessagesTest, ClosingTheBoxAnotherWayGivesCancel) {
    TbsSkinMessage box;
    EXPECT_EQ(RunBox(box, "Tekst", mtConfirmation, mbYes | mbNo, [](QDialog* dialog) { dialog->close(); }),
              mrCancel);
    // A box without buttons can still be left with Escape.
    EXPECT_EQ(RunBox(box, "Tekst", mtInformation, 0, [](QDialog* dialog) { Press(dialog, Qt::Key_Escape); }),
              mrCancel);
    // Without Cancel, No or OK, Escape does nothing.
    bool openAfterEscape = false;
    EXPECT_EQ(RunBox(box, "Tekst", mtError, mbAbort | mbRetry | mbIgnore,
                     [&](QDialog* dialog) {
                         Press(dialog, Qt::Key_Escape);
                         openAfterEscape = dialog->isVisible();
                         Press(dialog, Qt::Key_Return);
                     }),
              mrRetry);
    EXPECT_TRUE(openAfterEscape);
}

TEST(bsMessagesTest, ThreeLineMessageIsPlacedBySizingRule) {
    TbsSkinMessage box;
    const std::string text =
        "Uwaga! Brakuje ważnych plików umożliwiających poprawne \r\ndziałanie programu Qm "
        "Vardel. Konieczna jest reinstalacja \r\nprogramu.";
    const QString shown = QString::fromUtf8(text).replace("\r\n", "\n");
    const QSize labelSize = TextSize(box.DefaultFont, shown);
    QRect labelRect;
    QString labelText;
    QSize client;
    QRect okRect;
    QString title;
    RunBox(box, text, mtError, mbOK, [&](QDialog* dialog) {
        auto* label = dialog->findChild<QLabel*>("Message");
        ASSERT_NE(label, nullptr);
        labelRect = label->geometry();
        labelText = label->text();
        client = dialog->size();
        okRect = dialog->findChild<QPushButton*>("OK")->geometry();
        title = dialog->windowTitle();
        Press(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(title, "Błąd");
    EXPECT_EQ(labelText.count('\n'), 2);
    EXPECT_EQ(labelRect, QRect(QPoint(50, 10), labelSize));
    EXPECT_EQ(client, QSize(labelSize.width() + 90, 25 + labelSize.height() + 35));
    EXPECT_EQ(okRect, QRect((client.width() - 60) / 2, client.height() - 35, 60, 25));
}

TEST(bsMessagesTest, ShortMessageBoxIsRaisedToTheMinimumWidth) {
    TbsSkinMessage box;
    QSize client;
    QRect okRect;
    RunBox(box, "Ok", mtInformation, mbOK, [&](QDialog* dialog) {
        client = dialog->size();
        okRect = dialog->findChild<QPushButton*>("OK")->geometry();
        Press(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(client.width(), 120);
    EXPECT_EQ(okRect.left(), 30);

    // An empty message is still one line high.
    int labelHeight = 0;
    RunBox(box, "", mtInformation, mbOK, [&](QDialog* dialog) {
        labelHeight = dialog->findChild<QLabel*>("Message")->height();
        Press(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(labelHeight, QFontMetrics(box.DefaultFont).height());
}

TEST(bsMessagesTest, MessageWiderThanTheWorkAreaIsCut) {
    TbsSkinMessage box;
    const int workArea = QGuiApplication::primaryScreen()->availableGeometry().width();
    const std::string text(static_cast<std::size_t>(workArea / 4), 'W');
    int width = 0;
    int labelWidth = 0;
    RunBox(box, "Plik ten przeniesiono do folderu: " + text, mtInformation, mbOK, [&](QDialog* dialog) {
        width = dialog->width();
        labelWidth = dialog->findChild<QLabel*>("Message")->width();
        Press(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(width, workArea);
    EXPECT_GT(labelWidth + 50, workArea);
}

TEST(bsMessagesTest, BoxIsFreedAfterEveryCall) {
    TbsSkinMessage box;
    QPointer<QDialog> seen;
    RunBox(box, "Tekst", mtWarning, mbOK, [&](QDialog* dialog) {
        seen = dialog;
        Press(dialog, Qt::Key_Return);
    });
    EXPECT_TRUE(seen.isNull());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(bsMessagesTest, BoxDestroyedWhileOpenCountsAsClosed) {
    TbsSkinMessage box;
    EXPECT_EQ(RunBox(box, "Tekst", mtWarning, mbOK, [](QDialog* dialog) { dialog->deleteLater(); }),
              mrCancel);
}

TEST(bsMessagesTest, CustomKindHasTheApplicationTitleAndNoIcon) {
    const QString oldName = QGuiApplication::applicationDisplayName();
    QGuiApplication::setApplicationDisplayName("QmVardel");
    TbsSkinMessage box;
    QString title;
    bool hasImage = true;
    RunBox(box, "Tekst", mtCustom, mbOK, [&](QDialog* dialog) {
        title = dialog->windowTitle();
        hasImage = dialog->findChild<QLabel*>("Image") != nullptr;
        Press(dialog, Qt::Key_Return);
    });
    QGuiApplication::setApplicationDisplayName(oldName);
    EXPECT_EQ(title, "QmVardel");
    EXPECT_FALSE(hasImage);
}

TEST(bsMessagesTest, SkinsSetButtonHeightMinimumWidthFontsAndStyle) {
    TbsSkinMessage box;
    auto frame = std::make_unique<TbsSkinData>();
    frame->Loaded = true;
    frame->FrameMinWidth = 400;
    frame->StyleSheet = "QDialog { background: white; }";
    auto controls = std::make_unique<TbsSkinData>();
    controls->Loaded = true;
    controls->ButtonHeight = 30;
    controls->StyleSheet = "QPushButton { color: red; }";
    QFont labelFont("Liberation Serif");
    labelFont.setPixelSize(20);
    QFont buttonFont("Liberation Mono");
    buttonFont.setPixelSize(11);
    controls->LabelFont = labelFont;
    controls->ButtonFont = buttonFont;
    box.SetSkinData(frame.get());
    box.CtrlSkinData = controls.get();

    struct TSeen {
        int Width = 0;
        int ButtonHeight = 0;
        QString LabelFamily;
        QString ButtonFamily;
        QString FrameStyle;
        QString ButtonStyle;
    };
    auto look = [&box] {
        TSeen seen;
        RunBox(box, "Ok", mtInformation, mbOK, [&](QDialog* dialog) {
            auto* ok = dialog->findChild<QPushButton*>("OK");
            seen.Width = dialog->width();
            seen.ButtonHeight = ok->height();
            seen.LabelFamily = dialog->findChild<QLabel*>("Message")->font().family();
            seen.ButtonFamily = ok->font().family();
            seen.FrameStyle = dialog->styleSheet();
            seen.ButtonStyle = ok->styleSheet();
            Press(dialog, Qt::Key_Return);
        });
        return seen;
    };

    TSeen seen = look();
    EXPECT_EQ(seen.Width, 400);
    EXPECT_EQ(seen.ButtonHeight, 30);
    EXPECT_EQ(seen.LabelFamily, "Liberation Serif");
    EXPECT_EQ(seen.ButtonFamily, "Liberation Mono");
    EXPECT_EQ(seen.FrameStyle, frame->StyleSheet);
    EXPECT_EQ(seen.ButtonStyle, controls->StyleSheet);

    box.UseSkinFont = false;
    seen = look();
    EXPECT_EQ(seen.LabelFamily, "Arial");
    EXPECT_EQ(seen.ButtonFamily, "Arial");

    // A skin that goes away leaves the plain look.
    frame.reset();
    controls.reset();
    EXPECT_TRUE(box.SkinData.isNull());
    EXPECT_TRUE(box.CtrlSkinData.isNull());
    seen = look();
    EXPECT_EQ(seen.Width, 120);
    EXPECT_EQ(seen.ButtonHeight, 25);
    EXPECT_TRUE(seen.FrameStyle.isEmpty());
}

TEST(bsMessagesTest, AlphaBlendMakesTheBoxTranslucent) {
    TbsSkinMessage box;
    box.AlphaBlend = true;
    box.AlphaBlendValue = 204;
    double opacity = 0;
    RunBox(box, "Tekst", mtInformation, mbOK, [&](QDialog* dialog) {
        opacity = dialog->windowOpacity();
        Press(dialog, Qt::Key_Return);
    });
    EXPECT_NEAR(opacity, 0.8, 0.01);
}

} // namespace
