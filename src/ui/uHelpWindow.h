#pragma once
// THelpWindow: the in-program help viewer. It is a window of its own without a parent, so that a
// modal prompt never blocks it. It shows the HTML help document that lies beside the
// program at the anchor of a topic identifier; a missing document or topic is reported inside
// the window itself.
#include <QString>
#include <QWidget>

class QTextBrowser;

inline constexpr const char* kHelpFileName = "QmVardel.html";
inline constexpr const char* kDefaultHelpTopic = "Cotozaprogram";

class THelpWindow : public QWidget {
public:
    explicit THelpWindow(QWidget* parent = nullptr);

    // Opens helpFile at topic ("" = the default topic) and brings the window up. Asked while a
    // modal dialog waits (the " Pomoc" of a prompt), the window stays usable and is placed beside
    // that dialog, which stays in front.
    void ShowTopic(const QString& helpFile, const QString& topic);

    QString CurrentTopic() const { return FTopic; }
    // Empty when the topic is shown; otherwise the text shown instead.
    QString Problem() const { return FProblem; }
    QTextBrowser* Browser() const { return FBrowser; }

private:
    void ShowBeside(QWidget* modal);

    QTextBrowser* FBrowser;
    QString FTopic;
    QString FProblem;
    QString FLoadedFile;
};
