#pragma once
// The single-instance rule: one running copy per executable, keyed by the executable's full path.
// The first copy listens on a local socket named after that path; a later copy finds it, asks it
// to come forward and ends. A lock file around the test makes two copies started at the same
// moment agree on which one is first.
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

class TSingleInstance : public QObject {
public:
    // socketDir: a folder private to the user (the program's runtime folder).
    TSingleInstance(const QString& executablePath, const QString& socketDir);
    ~TSingleInstance() override;

    // True when this is the first copy (it now answers later ones); false when another copy runs
    // and was asked to come forward.
    bool Register();
    QString SocketPath() const { return FSocketPath; }

    // Called in the first copy when a later one asks it to come forward.
    std::function<void()> OnBringForward;

private:
    QString FSocketPath;
    QLocalServer FServer;
};
