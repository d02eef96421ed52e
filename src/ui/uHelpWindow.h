#pragma once
// THelpWindow: the in-program help viewer. It shows the HTML help document that lies beside the
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

    // Opens helpFile at topic ("" = the default topic) and brings the window up.
    void ShowTopic(const QString& helpFile, const QString& topic);

    QString CurrentTopic() const { return FTopic; }
    // Empty when the topic is shown; otherwise the text shown instead.
    QString Problem() const { return FProblem; }
    QTextBrowser* Browser() const { return FBrowser; }

private:
    QTextBrowser* FBrowser;
    QString FTopic;
    QString FProblem;
    QString FLoadedFile;
};
