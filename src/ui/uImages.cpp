#include "ui/uImages.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

QPixmap ProgramImage(const QString& name, int size) {
    static QHash<QString, QPixmap> cache;
    const QString key = name + QLatin1Char('@') + QString::number(size);
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QSvgRenderer renderer(QStringLiteral(":/Images/%1.svg").arg(name));
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon ProgramIcon(const QString& name, int size) {
    return QIcon(ProgramImage(name, size));
}

const QVector<QPixmap>& TrayImages(TTrayImageList list) {
    static QHash<int, QVector<QPixmap>> lists;
    const int key = static_cast<int>(list);
    auto it = lists.find(key);
    if (it != lists.end())
        return *it;
    QString prefix;
    switch (list) {
    case TTrayImageList::tilTrayIcon:
        prefix = QStringLiteral("trayicon_");
        break;
    case TTrayImageList::tilScanAnimate:
        prefix = QStringLiteral("trayscan_");
        break;
    case TTrayImageList::tilUpdateAnimate:
        prefix = QStringLiteral("trayupdate_");
        break;
    case TTrayImageList::tilAlarmAnimate:
        prefix = QStringLiteral("trayalarm_");
        break;
    }
    QVector<QPixmap> frames;
    for (int i = 0; i < TrayImageCount(list); ++i)
        frames.push_back(ProgramImage(prefix + QString::number(i), 32));
    return *lists.insert(key, frames);
}
