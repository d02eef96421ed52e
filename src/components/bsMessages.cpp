#include "components/bsMessages.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <memory>

std::function<void(QDialog*)> TbsSkinMessage::OnBoxShown;

namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont DefaultMessageFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(14);
    return font;
}

// The letter after the "&" of a caption, lowered; 0 when the caption has none.
QChar AcceleratorOf(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (caption[i + 1] != u'&')
                return caption[i + 1].toLower();
            ++i;
        }
    }
    return QChar();
}

} // namespace

TbsMessageForm::TbsMessageForm(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("bsMessageForm"));
    setModal(true);
}

QPushButton* TbsMessageForm::AddButton(const TMessageButtonInfo& info, const std::function<void()>& onHelp) {
    auto* button = new QPushButton(ToQString(info.Caption), this);
    button->setObjectName(ToQString(info.Name));
    button->setFocusPolicy(Qt::StrongFocus);
    const int result = info.Result;
    if (result == mrNone) {
        connect(button, &QPushButton::clicked, this, [onHelp] {
            if (onHelp)
                onHelp();
        });
    } else {
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    }
    FButtons.push_back(button);
    return button;
}

void TbsMessageForm::reject() {
    done(mrCancel);
}

void TbsMessageForm::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        // Without a cancel button Escape does nothing, unless the box has no button at all: then
        // it is the only way out.
        if (FCancelButton != nullptr)
            FCancelButton->click();
        else if (FButtons.empty())
            done(mrCancel);
        return;
    }
    // As in the system's own dialogs, a button's accelerator letter works without Alt too.
    if ((modifiers == Qt::NoModifier || modifiers == Qt::AltModifier) && !event->text().isEmpty()) {
        const QChar letter = event->text().front().toLower();
        for (QPushButton* button : FButtons) {
            if (!letter.isNull() && AcceleratorOf(button->text()) == letter && button->isEnabled()) {
                button->click();
                return;
            }
        }
    }
    QDialog::keyPressEvent(event);
}

void TbsMessageForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (TbsSkinMessage::OnBoxShown)
                TbsSkinMessage::OnBoxShown(this);
        },
        Qt::QueuedConnection);
}

TbsSkinMessage::TbsSkinMessage(QObject* parent)
    : QObject(parent), DefaultFont(DefaultMessageFont()), DefaultButtonFont(DefaultMessageFont()) {}

bool TbsSkinMessage::ControlSkinLoaded() const {
    return CtrlSkinData != nullptr && CtrlSkinData->Loaded;
}

// The control skin knows two objects by name: the button and the standard label.
int TbsSkinMessage::ButtonHeight() const {
    if (ControlSkinLoaded() && ButtonSkinDataName == "button" && CtrlSkinData->ButtonHeight > 0)
        return CtrlSkinData->ButtonHeight;
    return kMessageDefaultButtonHeight;
}

int TbsSkinMessage::FrameMinWidth() const {
    if (SkinData != nullptr && SkinData->Loaded && SkinData->FrameMinWidth > 0)
        return SkinData->FrameMinWidth;
    return kMessageDefaultMinWidth;
}

QFont TbsSkinMessage::MessageFont() const {
    if (UseSkinFont && ControlSkinLoaded() && MessageLabelSkinDataName == "stdlabel" &&
        CtrlSkinData->LabelFont)
        return *CtrlSkinData->LabelFont;
    return DefaultFont;
}

QFont TbsSkinMessage::ButtonFont() const {
    if (UseSkinFont && ControlSkinLoaded() && ButtonSkinDataName == "button" && CtrlSkinData->ButtonFont)
        return *CtrlSkinData->ButtonFont;
    return DefaultButtonFont;
}

int TbsSkinMessage::ShowMessageBox(const std::string& text, int kind, unsigned buttons, int /*helpContext*/) {
    // Freed on every way out, also when building or showing throws.
    auto form = std::make_unique<TbsMessageForm>();
    Build(*form, text, kind, buttons);
    const QPointer<TbsMessageForm> alive(form.get());
    const int result = form->exec();
    if (alive.isNull()) {
        // Someone else destroyed the box while it was open (the program closing down).
        (void)form.release();
        return mrCancel;
    }
    return result;
}

void TbsSkinMessage::Build(TbsMessageForm& form, const std::string& text, int kind, unsigned buttons) const {
    if (SkinData != nullptr && SkinData->Loaded) {
        form.setStyleSheet(SkinData->StyleSheet);
        if (SkinData->Palette)
            form.setPalette(*SkinData->Palette);
    }

    const std::string title = MessageKindTitle(kind);
    form.setWindowTitle(title.empty() ? QGuiApplication::applicationDisplayName() : ToQString(title));

    QStyle::StandardPixmap icon = QStyle::SP_CustomBase;
    switch (kind) {
    case mtWarning:
        icon = QStyle::SP_MessageBoxWarning;
        break;
    case mtError:
        icon = QStyle::SP_MessageBoxCritical;
        break;
    case mtInformation:
        icon = QStyle::SP_MessageBoxInformation;
        break;
    case mtConfirmation:
        icon = QStyle::SP_MessageBoxQuestion;
        break;
    default:
        break;
    }

    // The message: plain text, one label line per line of the text, never wrapped.
    const QFont messageFont = MessageFont();
    QStringList lines;
    for (const std::string& line : SplitMessageLines(text))
        lines << ToQString(line);
    const QString shown = lines.join(u'\n');
    const QFontMetrics metrics(messageFont);
    // An empty message keeps the height of one line, as a one-space text.
    const QSize labelSize = metrics.size(0, shown.isEmpty() ? QStringLiteral(" ") : shown);

    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect workArea = screen != nullptr ? screen->availableGeometry() : QRect();

    TMessageBoxMetrics boxMetrics;
    boxMetrics.Buttons = buttons;
    boxMetrics.ButtonHeight = ButtonHeight();
    boxMetrics.LabelWidth = labelSize.width();
    boxMetrics.LabelHeight = labelSize.height();
    boxMetrics.WorkAreaWidth = workArea.width();
    boxMetrics.FrameMinWidth = FrameMinWidth();
    const TMessageBoxGeometry geometry = ComputeMessageBoxGeometry(boxMetrics);

    if (icon != QStyle::SP_CustomBase) {
        auto* image = new QLabel(&form);
        image->setObjectName(QStringLiteral("Image"));
        image->setPixmap(form.style()->standardIcon(icon, nullptr, &form).pixmap(32, 32));
        image->setGeometry(geometry.Image.Left, geometry.Image.Top, geometry.Image.Width,
                           geometry.Image.Height);
    }

    auto* label = new QLabel(&form);
    label->setObjectName(QStringLiteral("Message"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    label->setFont(messageFont);
    label->setText(shown);
    label->setGeometry(geometry.Label.Left, geometry.Label.Top, geometry.Label.Width, geometry.Label.Height);

    const QFont buttonFont = ButtonFont();
    const unsigned defaultBit = DefaultButtonOf(buttons);
    const unsigned cancelBit = CancelButtonOf(buttons);
    for (const TMessageButtonPlace& place : geometry.ButtonPlaces) {
        const TMessageButtonInfo* info = nullptr;
        for (const TMessageButtonInfo& candidate : kMessageButtons) {
            if (candidate.Bit == place.Bit)
                info = &candidate;
        }
        QPushButton* button = form.AddButton(*info, OnHelp);
        button->setFont(buttonFont);
        if (ControlSkinLoaded())
            button->setStyleSheet(CtrlSkinData->StyleSheet);
        button->setGeometry(place.Rect.Left, place.Rect.Top, place.Rect.Width, place.Rect.Height);
        if (place.Bit == defaultBit) {
            button->setDefault(true);
            button->setFocus();
        }
        if (place.Bit == cancelBit)
            form.SetCancelButton(button);
    }

    form.setFixedSize(geometry.ClientWidth, geometry.ClientHeight);
    if (workArea.isValid())
        form.move(workArea.center() - QPoint(geometry.ClientWidth / 2, geometry.ClientHeight / 2));

    if (AlphaBlend)
        form.setWindowOpacity(AlphaBlendValue / 255.0);
}
