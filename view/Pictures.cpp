#include "Pictures.h"

#include <QHash>
#include <QIcon>
#include <QPaintEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

#include "Resources.h"

namespace pictures {
namespace {

QSvgRenderer* Renderer(const QString& path) {
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    auto found = cache.constFind(path);
    if (found != cache.constEnd())
        return found->get();
    InitResources();
    auto renderer = std::make_shared<QSvgRenderer>(path);
    if (!renderer->isValid())
        renderer.reset();
    cache.insert(path, renderer);
    return renderer.get();
}

const char* LookName(Look look) {
    switch (look) {
        case Look::Hot:
            return "hot";
        case Look::Pressed:
            return "pressed";
        case Look::Disabled:
            return "disabled";
        case Look::Normal:
            break;
    }
    return "normal";
}

}  // namespace

QString ButtonPicture(const QString& set, Look look) {
    return QStringLiteral(":/icons/%1-%2.svg").arg(set, QLatin1String(LookName(look)));
}

bool Shows(const QPainter& painter, const QRect& target) {
    const QPaintEngine* engine = painter.paintEngine();
    // The part being painted, in device pixels; empty when it is the whole device.
    const QRegion shown = engine ? engine->systemClip() : QRegion();
    return shown.isEmpty() || shown.intersects(painter.deviceTransform().mapRect(target));
}

void Draw(QPainter& painter, const QString& path, const QRect& target) {
    if (!Shows(painter, target))
        return;
    if (QSvgRenderer* renderer = Renderer(path)) {
        // The renderer turns antialiasing on for itself; the rest of the
        // oscillogram is painted without it.
        painter.save();
        renderer->render(&painter, target);
        painter.restore();
    }
}

QIcon ApplicationIcon() {
    QIcon icon;
    QSvgRenderer* renderer = Renderer(QStringLiteral(":/sayalike.svg"));
    if (!renderer)
        return icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer->render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace pictures
