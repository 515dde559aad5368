#pragma once
// The program's pictures: SVG files compiled into the binary (resources/), drawn at
// any size. UI thread only.
#include <QString>

class QIcon;
class QPainter;
class QRect;

namespace pictures {

inline const QString kMicrophone = QStringLiteral(":/icons/microphone.svg");
inline const QString kLoudspeaker = QStringLiteral(":/icons/loudspeaker.svg");
inline const QString kGreyLamp = QStringLiteral(":/icons/lamp-grey.svg");
inline const QString kGreenLamp = QStringLiteral(":/icons/lamp-green.svg");

// The four looks of a big button, in the order a button image list holds them.
enum class Look { Normal, Hot, Pressed, Disabled };

// ":/icons/<set>-<look>.svg", set being play, pause, loop, zoomin, zoomout or open.
QString ButtonPicture(const QString& set, Look look);

// Renders the picture into target; an unknown path draws nothing, and neither
// does a target the paint does not show.
void Draw(QPainter& painter, const QString& path, const QRect& target);

// Whether the paint under way shows any of target: a paint of part of a window
// shows nothing outside that part, though drawing there costs as much.
bool Shows(const QPainter& painter, const QRect& target);

// The application icon in the sizes a desktop asks for.
QIcon ApplicationIcon();

}  // namespace pictures
