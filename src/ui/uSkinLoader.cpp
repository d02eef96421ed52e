#include "ui/uSkinLoader.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QStringList>

namespace {

const QStringList kRequiredSections = {"version", "pictures", "forminfo", "skinobjects", "skincontrols"};

// The properties of one skin object ("button.face=..." gives object "button", property "face").
using TSkinObject = QMap<QString, QString>;

QMap<QString, TSkinObject> SkinObjects(const TSkinSections& s) {
    QMap<QString, TSkinObject> objects;
    const auto section = s.value("skinobjects");
    for (auto it = section.cbegin(); it != section.cend(); ++it) {
        const auto dot = it.key().indexOf(QLatin1Char('.'));
        if (dot > 0)
            objects[it.key().left(dot)][it.key().mid(dot + 1)] = it.value();
    }
    return objects;
}

// A colour value, or two separated by a comma for a top-to-bottom gradient. Anything that does
// not parse as colours is dropped, so a description can never inject style sheet text.
QString Brush(const QString& value) {
    const QStringList parts = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
    QStringList colours;
    for (const QString& p : parts) {
        const QColor c = QColor::fromString(p.trimmed());
        if (!c.isValid())
            return {};
        colours << c.name(QColor::HexArgb);
    }
    if (colours.size() == 1)
        return colours[0];
    if (colours.size() == 2)
        return QStringLiteral("qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2)")
            .arg(colours[0], colours[1]);
    return {};
}

QString Colour(const QString& value) {
    const QColor c = QColor::fromString(value.trimmed());
    return c.isValid() ? c.name(QColor::HexArgb) : QString();
}

int Number(const QString& value, int fallback = -1) {
    bool ok = false;
    const int n = value.trimmed().toInt(&ok);
    return ok && n >= 0 && n <= 400 ? n : fallback;
}

// Font text "Family,pixelheight[,bold][,italic]".
std::optional<QFont> Font(const QString& value) {
    const QStringList parts = value.split(QLatin1Char(','));
    if (parts.isEmpty() || parts[0].trimmed().isEmpty())
        return std::nullopt;
    QFont font(parts[0].trimmed());
    font.setPixelSize(parts.size() > 1 ? Number(parts[1], 14) : 14);
    for (int i = 2; i < parts.size(); ++i) {
        const QString style = parts[i].trimmed().toLower();
        if (style == QLatin1String("bold"))
            font.setBold(true);
        else if (style == QLatin1String("italic"))
            font.setItalic(true);
    }
    return font;
}

QString FontRule(const TSkinObject& o) {
    const auto font = Font(o.value("font"));
    if (!font)
        return {};
    QString rule =
        QStringLiteral("font-family: \"%1\"; font-size: %2px;").arg(font->family()).arg(font->pixelSize());
    if (font->bold())
        rule += QLatin1String(" font-weight: bold;");
    return rule;
}

// "name: value;" when the value is usable, else nothing.
QString Prop(const char* name, const QString& value) {
    return value.isEmpty() ? QString() : QStringLiteral("%1: %2; ").arg(QLatin1String(name), value);
}

// "border: 1px solid colour; " (or the given side and width) when the colour is usable, else nothing.
QString Border(const QString& colour, const char* side = "border", int width = 1) {
    return colour.isEmpty()
               ? QString()
               : QStringLiteral("%1: %2px solid %3; ").arg(QLatin1String(side)).arg(width).arg(colour);
}

QString PictureUrl(const TSkinSections& s, const QString& name, const QString& folder) {
    const QString file = s.value("pictures").value(name);
    // Pictures lie in the skin's own folder: no separators, no way out of it.
    if (file.isEmpty() || file.contains(QLatin1Char('/')) || file.contains(QLatin1Char('\\')) ||
        file.startsWith('.'))
        return {};
    const QString path = QDir(folder).filePath(file);
    return QFileInfo::exists(path) ? QStringLiteral("url(\"%1\")").arg(path) : QString();
}

QString ButtonRules(const QString& sel, const TSkinObject& o) {
    const QString radius =
        Number(o.value("radius")) >= 0 ? QString::number(Number(o.value("radius"))) + "px" : "";
    QString r = sel + " { " + Prop("background", Brush(o.value("face"))) +
                Prop("color", Colour(o.value("text"))) + Border(Colour(o.value("border"))) +
                Prop("border-radius", radius) + FontRule(o) + "padding: 0px 6px; }\n";
    r += sel + ":hover { " + Prop("background", Brush(o.value("hover"))) + "}\n";
    r += sel + ":pressed { " + Prop("background", Brush(o.value("pressed"))) + "}\n";
    r += sel + ":focus { " + Border(Colour(o.value("focus"))) + "}\n";
    r += sel + ":disabled { " + Prop("color", Colour(o.value("disabledtext"))) + "}\n";
    return r;
}

QString TabRules(const TSkinObject& o) {
    const QString border = Colour(o.value("border"));
    const QString radius = QString::number(Number(o.value("radius"), 0)) + "px";
    QString r = "QTabWidget::pane { " + Prop("background", Brush(o.value("page"))) + Border(border) +
                "top: -1px; }\n";
    r += "QTabBar::tab { " + Prop("background", Brush(o.value("face"))) +
         Prop("color", Colour(o.value("text"))) + Border(border) + "border-bottom: none; " +
         "border-top-left-radius: " + radius + "; border-top-right-radius: " + radius + "; " +
         "padding: 4px 9px; margin-right: 1px; margin-top: 3px; " + FontRule(o) + "}\n";
    r += "QTabBar::tab:selected { " + Prop("background", Brush(o.value("selected"))) +
         Prop("color", Colour(o.value("selectedtext"))) + "margin-top: 0px; " +
         Border(Colour(o.value("accent")), "border-top", 3) + "}\n";
    r += "QTabBar::tab:hover:!selected { " + Prop("background", Brush(o.value("hover"))) + "}\n";
    return r;
}

QString GroupRules(const TSkinObject& o) {
    const QString border = Colour(o.value("border"));
    return "QGroupBox { " + Border(border) +
           Prop("border-radius", QString::number(Number(o.value("radius"), 0)) + "px") +
           Prop("background", Brush(o.value("face"))) + "margin-top: 0px; padding-top: 18px; }\n" +
           // The caption sits inside the frame: the controls of a group are placed at fixed
           // positions below it, and a caption in the margin above would overrun the border.
           "QGroupBox::title { subcontrol-origin: border; subcontrol-position: top left; left: 6px; "
           "top: 2px; padding: 0px 2px; " +
           Prop("color", Colour(o.value("title"))) + "}\n";
}

QString EditRules(const QString& sel, const TSkinObject& o, const TSkinSections& s, const QString& folder) {
    const QString border = Colour(o.value("border"));
    QString r = sel + " { " + Prop("background", Brush(o.value("face"))) +
                Prop("color", Colour(o.value("text"))) + Border(border) +
                Prop("border-radius", QString::number(Number(o.value("radius"), 0)) + "px") +
                Prop("selection-background-color", Colour(o.value("selection"))) +
                Prop("selection-color", Colour(o.value("selectiontext"))) + "}\n";
    if (sel == "QComboBox")
        r += "QComboBox { padding: 1px 6px; } QComboBox::drop-down { border: none; width: 18px; " +
             Prop("background", Brush(o.value("button"))) + "}\n" + "QComboBox QAbstractItemView { " +
             Prop("background", Brush(o.value("face"))) +
             Prop("selection-background-color", Colour(o.value("selection"))) + "}\n";
    if (sel == "QComboBox") {
        // A skinned combo box draws no focus frame of its own; without this rule the keyboard's
        // place is invisible on the "Opcje" tab.
        const QString focus =
            Colour(o.value("focus")).isEmpty() ? Colour(o.value("selection")) : Colour(o.value("focus"));
        r += "QComboBox:focus { " + Border(focus, "border", 2) + "}\n";
    }
    if (const QString arrow = PictureUrl(s, o.value("arrow"), folder); sel == "QComboBox" && !arrow.isEmpty())
        r += "QComboBox::down-arrow { image: " + arrow + "; width: 9px; height: 6px; }\n";
    if (sel == "QTableWidget")
        r += "QHeaderView::section { " + Prop("background", Brush(o.value("header"))) +
             Prop("color", Colour(o.value("headertext"))) + Border(border) + "padding: 1px 3px; }\n" +
             "QTableWidget { " + Prop("gridline-color", Colour(o.value("grid"))) + "}\n";
    return r;
}

QString CheckRules(const TSkinObject& o, const TSkinSections& s, const QString& folder) {
    QString r = "QCheckBox { " + Prop("color", Colour(o.value("text"))) + "spacing: 6px; }\n";
    const QString on = PictureUrl(s, o.value("checked"), folder);
    const QString off = PictureUrl(s, o.value("unchecked"), folder);
    if (!on.isEmpty() && !off.isEmpty())
        r += "QCheckBox::indicator { width: 15px; height: 15px; }\nQCheckBox::indicator:checked { image: " +
             on + "; }\nQCheckBox::indicator:unchecked { image: " + off + "; }\n";
    return r;
}

QString MenuRules(const TSkinObject& o) {
    const QString border = Colour(o.value("border"));
    return "QMenu { " + Prop("background", Brush(o.value("face"))) + Prop("color", Colour(o.value("text"))) +
           Border(border) + "padding: 2px; }\n" +
           "QMenu::item { padding: 4px 22px 4px 26px; }\nQMenu::item:selected { " +
           Prop("background", Brush(o.value("selection"))) + Prop("color", Colour(o.value("selectiontext"))) +
           "}\nQMenu::item:disabled { " + Prop("color", Colour(o.value("disabledtext"))) + "}\n" +
           "QMenu::separator { height: 1px; margin: 3px 6px; " +
           Prop("background", Colour(o.value("border"))) + "}\n";
}

QString HintRules(const TSkinObject& o) {
    return "QToolTip { " + Prop("background", Colour(o.value("face"))) +
           Prop("color", Colour(o.value("text"))) + "border: 1px solid " +
           (Colour(o.value("border")).isEmpty() ? "#808080" : Colour(o.value("border"))) + "; }\n";
}

QString LabelRules(const QString& scope, const TSkinObject& o) {
    return scope + "QLabel { " + Prop("color", Colour(o.value("text"))) + "}\n";
}

QString FrameRules(const TSkinObject& o, const TSkinSections& s, const QString& folder) {
    const QString border = Colour(o.value("border"));
    const int width = Number(o.value("borderwidth"), 1);
    QString r = "QDialog { " + Prop("background", Brush(o.value("face"))) + Border(border, "border", width);
    const QString picture = PictureUrl(s, o.value("picture"), folder);
    if (!picture.isEmpty())
        r += "background-image: " + picture +
             "; background-repeat: no-repeat; background-position: bottom left; ";
    r += "}\nQDialog QLabel { " + Prop("color", Colour(o.value("text"))) + "}\n";
    return r;
}

} // namespace

TSkinSections ParseSkinDescription(const QString& text) {
    TSkinSections sections;
    QString current;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = line.mid(1, line.size() - 2).trimmed().toLower();
            sections[current];
            continue;
        }
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || current.isEmpty())
            continue;
        sections[current][line.left(eq).trimmed().toLower()] = line.mid(eq + 1).trimmed();
    }
    return sections;
}

QString SkinStyleSheet(const TSkinSections& s, TSkinKind kind, const QString& folder) {
    const auto objects = SkinObjects(s);
    const auto form = s.value("forminfo");
    QString sheet;
    if (kind == TSkinKind::skControls) {
        // The window itself: only the main window, so dialogs keep their own (or the plain) frame.
        sheet += "#frmMain { " + Prop("background", Brush(form.value("face"))) + "}\n";
        const QString picture = PictureUrl(s, form.value("picture"), folder);
        if (!picture.isEmpty())
            sheet += "#PageControl { background-image: " + picture +
                     "; background-repeat: no-repeat; background-position: bottom left; }\n";
    }
    const auto controls = s.value("skincontrols");
    for (auto it = controls.cbegin(); it != controls.cend(); ++it) {
        const QString control = it.key();
        if (!objects.contains(it.value().toLower()))
            continue;
        const TSkinObject& o = objects[it.value().toLower()];
        if (control == "qpushbutton")
            sheet += ButtonRules("QPushButton", o);
        else if (control == "qtabwidget")
            sheet += TabRules(o);
        else if (control == "qgroupbox")
            sheet += GroupRules(o);
        else if (control == "qlistwidget")
            sheet += EditRules("QListWidget", o, s, folder);
        else if (control == "qcombobox")
            sheet += EditRules("QComboBox", o, s, folder);
        else if (control == "qlineedit")
            sheet += EditRules("QLineEdit", o, s, folder);
        else if (control == "qplaintextedit")
            sheet += EditRules("QPlainTextEdit", o, s, folder);
        else if (control == "qtablewidget")
            sheet += EditRules("QTableWidget", o, s, folder);
        else if (control == "qcheckbox")
            sheet += CheckRules(o, s, folder);
        else if (control == "qmenu")
            sheet += MenuRules(o);
        else if (control == "qtooltip")
            sheet += HintRules(o);
        else if (control == "qlabel")
            sheet += LabelRules(kind == TSkinKind::skControls ? "#frmMain " : "QDialog ", o);
        else if (control == "qdialog" && kind == TSkinKind::skDialogFrame)
            sheet += FrameRules(o, s, folder);
    }
    return sheet;
}

bool LoadSkinFile(const QString& path, TSkinKind kind, TbsSkinData& skin) {
    skin.Clear();
    QFile file(path);
    // A skin is a few kilobytes; a huge file is not one.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1 << 20)
        return false;
    const TSkinSections s = ParseSkinDescription(QString::fromUtf8(file.readAll()));
    for (const QString& required : kRequiredSections)
        if (!s.contains(required))
            return false;
    const QString folder = QFileInfo(path).absolutePath();
    const auto objects = SkinObjects(s);
    const auto form = s.value("forminfo");

    skin.StyleSheet = SkinStyleSheet(s, kind, folder);
    QPalette palette;
    const auto setRole = [&](QPalette::ColorRole role, const QString& value) {
        const QColor c = QColor::fromString(value.split(QLatin1Char(',')).value(0).trimmed());
        if (c.isValid())
            palette.setColor(role, c);
    };
    setRole(QPalette::Window, form.value("face"));
    setRole(QPalette::WindowText, form.value("text"));
    setRole(QPalette::Button, objects.value("button").value("face"));
    setRole(QPalette::ButtonText, objects.value("button").value("text"));
    setRole(QPalette::Base, objects.value("edit").value("face"));
    setRole(QPalette::Text, objects.value("edit").value("text"));
    setRole(QPalette::Highlight, objects.value("edit").value("selection"));
    setRole(QPalette::HighlightedText, objects.value("edit").value("selectiontext"));
    skin.Palette = palette;
    skin.ButtonHeight = Number(objects.value("button").value("height"), 0);
    skin.ButtonFont = Font(objects.value("button").value("font"));
    skin.LabelFont = Font(objects.value("stdlabel").value("font"));
    if (kind == TSkinKind::skDialogFrame) {
        const QString picture = s.value("pictures").value(objects.value("frame").value("picture"));
        if (!picture.isEmpty() && !picture.contains('/')) {
            const QSize size = QImageReader(QDir(folder).filePath(picture)).size();
            skin.FrameMinWidth = size.isValid() ? size.width() : 0;
        }
        if (!skin.FrameMinWidth)
            skin.FrameMinWidth = Number(form.value("minwidth"), 0);
    }
    skin.Loaded = true;
    return true;
}
