// Zelvan in a Qt 6 QOpenGLWidget with a compatibility-profile context: a picture (a PNG given on the
// command line, or one made in memory) drawn through zelvan::Pyramid, fitted to the widget. The mouse
// wheel zooms about the cursor, dragging pans, a double click fits the picture again.
//
// Usage: zelvan-qt [picture.png | --check]
//   --check  zooms and pans by sending the widget mouse events, moves it into another window, reads
//            pixels back after each step and exits with 1 when the picture is not where it should be.
#include <QtGui/qopengl.h>

#include <QApplication>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QWheelEvent>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <zelvan_pyramid.hpp>

namespace {

// Red rises to the right, green downwards, blue makes squares of 100 pixels: a pixel's colour tells
// where in the picture it is. Format_ARGB32 is blue, green, red, alpha in memory (on little-endian
// machines), the order Zelvan reads.
QImage makePicture() {
    QImage picture(1500, 1000, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 255 / 1499, y * 255 / 999, (x / 100 + y / 100) % 2 ? 220 : 60));
    return picture;
}

class Viewer : public QOpenGLWidget {
public:
    explicit Viewer(QImage picture) : image_(std::move(picture)) {
        QSurfaceFormat format;  // Zelvan draws with glBegin/glEnd: a core profile would draw nothing
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        setFormat(format);
        resize(640, 480);
    }

    // Where Qt users stumble: the widget's context goes with the widget, so the textures must be
    // deleted here, with makeCurrent() first, not after the widget (or its window) is gone. And moving
    // the widget into another window can give it a new context: initializeGL then runs again, and the
    // old context's textures are released just before it is destroyed (see initializeGL).
    ~Viewer() override { releaseTextures(); }

    int contexts = 0;  // how many times initializeGL ran

protected:
    void initializeGL() override {
        ++contexts;
        connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] { releaseTextures(); });
        const auto width = static_cast<std::uint32_t>(image_.width());
        const auto height = static_cast<std::uint32_t>(image_.height());
        picture_.emplace(width, height);
        if (!picture_->upload(image_.constBits(), static_cast<std::size_t>(image_.bytesPerLine()),
                              static_cast<std::size_t>(image_.sizeInBytes())))
            std::fprintf(stderr, "zelvan-qt: the picture cannot be uploaded\n");
        if (!fitted_) fitPicture();
    }

    void paintGL() override {  // Qt has bound the widget's framebuffer and set the viewport
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, width(), 0, height(), -1, 1);  // one unit per logical pixel, y up
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.11f, 0.13f, 0.15f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        picture_->place(placement_);
        picture_->draw(devicePixelRatioF());  // screen pixels per unit
    }

    void mousePressEvent(QMouseEvent* event) override { last_ = event->position(); }
    void mouseMoveEvent(QMouseEvent* event) override {
        placement_.centreX += event->position().x() - last_.x();
        placement_.centreY -= event->position().y() - last_.y();
        last_ = event->position();
        update();
    }
    void mouseDoubleClickEvent(QMouseEvent*) override { fitPicture(); }
    void wheelEvent(QWheelEvent* event) override {  // about the cursor: that point keeps its pixel
        const double factor = std::pow(1.25, event->angleDelta().y() / 120.0);
        const double x = event->position().x(), y = height() - event->position().y();
        placement_.centreX = x + (placement_.centreX - x) * factor;
        placement_.centreY = y + (placement_.centreY - y) * factor;
        placement_.scaleX *= factor;
        placement_.scaleY *= factor;
        update();
    }

private:
    void fitPicture() {
        placement_ = zelvan::fit(static_cast<std::uint32_t>(image_.width()),
                                 static_cast<std::uint32_t>(image_.height()), width(), height());
        fitted_ = true;
        update();
    }

    void releaseTextures() {
        if (!picture_) return;
        makeCurrent();
        picture_.reset();
        doneCurrent();
    }

    QImage image_;
    std::optional<zelvan::Pyramid> picture_;
    zelvan::Placement placement_;
    bool fitted_ = false;
    QPointF last_;
};

// Red and green at (x, y), widget coordinates (y down), as the widget draws them now.
std::pair<int, int> redGreenAt(Viewer& viewer, int x, int y) {
    const qreal ratio = viewer.devicePixelRatioF();  // the framebuffer counts device pixels
    const QColor colour = viewer.grabFramebuffer().pixelColor(int(x * ratio), int(y * ratio));
    return {colour.red(), colour.green()};
}

bool near(std::pair<int, int> got, std::pair<int, int> want, const char* what) {
    if (std::abs(got.first - want.first) <= 3 && std::abs(got.second - want.second) <= 3) return true;
    std::fprintf(stderr, "zelvan-qt: %s: red %d green %d, expected %d %d\n", what, got.first, got.second,
                 want.first, want.second);
    return false;
}

bool check(Viewer& viewer) {
    const int width = viewer.width(), height = viewer.height(), x = width * 3 / 4, y = height / 3;
    if (!near(redGreenAt(viewer, width / 2, height / 2), {128, 128}, "fitted, the centre")) return false;
    const auto before = redGreenAt(viewer, x, y);
    QWheelEvent wheel({x + 0.0, y + 0.0}, viewer.mapToGlobal(QPointF(x, y)), {}, {0, 360}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&viewer, &wheel);
    if (!near(redGreenAt(viewer, x, y), before, "zoomed about the cursor, the cursor's pixel")) return false;
    const auto send = [&viewer](QEvent::Type type, int atX, int atY) {
        QMouseEvent mouse(type, QPointF(atX, atY), viewer.mapToGlobal(QPointF(atX, atY)), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&viewer, &mouse);
    };
    send(QEvent::MouseButtonPress, x, y);
    send(QEvent::MouseMove, x - 60, y + 40);
    if (!near(redGreenAt(viewer, x - 60, y + 40), before, "dragged, the pixel moved with the mouse"))
        return false;
    QWidget window;  // into another window: a new context, so the picture is uploaded again
    viewer.setParent(&window);
    window.resize(width, height);
    window.show();
    const bool same = near(redGreenAt(viewer, x - 60, y + 40), before, "moved into another window");
    std::printf("zelvan-qt: initializeGL ran %d times\n", viewer.contexts);
    viewer.setParent(nullptr);
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool checking = argc == 2 && std::strcmp(argv[1], "--check") == 0;
    QImage picture = argc == 2 && !checking ? QImage(argv[1]) : makePicture();
    if (argc > 2 || picture.isNull()) {
        std::fprintf(stderr, "usage: zelvan-qt [picture.png | --check] (Qt reads the picture)\n");
        return 2;
    }
    zelvan::Library library;  // outlives the viewer, which deletes its textures itself
    Viewer viewer(picture.convertToFormat(QImage::Format_ARGB32));
    viewer.setWindowTitle("Zelvan in Qt");
    viewer.show();
    if (!library) return 1;
    return checking ? (check(viewer) ? 0 : 1) : app.exec();
}
