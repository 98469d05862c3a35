#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"

#include <QApplication>
#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QSvgRenderer>

static void initQuorvelResources()
{
    // The resources live in a static library, so they must be registered by hand.
    static const bool done = [] {
        Q_INIT_RESOURCE(quorvel);
        return true;
    }();
    Q_UNUSED(done);
}

namespace Symbols {

namespace {

QString pathOf(const QString &name)
{
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

// Renders the SVG and recolours it: black becomes `color`, white stays white, alpha is kept.
QImage render(const QString &path, QSize pixels, const QColor &color)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid() || pixels.isEmpty())
        return {};
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QSizeF drawn = QSizeF(renderer.defaultSize()).scaled(QSizeF(pixels), Qt::KeepAspectRatio);
        const QRectF target((pixels.width() - drawn.width()) / 2,
                            (pixels.height() - drawn.height()) / 2, drawn.width(), drawn.height());
        renderer.render(&painter, target);
    }
    if (!color.isValid())
        return image;
    const int tr = color.red(), tg = color.green(), tb = color.blue();
    const qreal ta = color.alphaF();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = line[x];
            const int a = qAlpha(px);
            if (a == 0)
                continue;
            // Lightness of the un-premultiplied pixel: 0 for the glyph, 1 for white details.
            const qreal light = qreal(qGray(px)) / a;
            const int alpha = int(a * (light > 0.5 ? 1.0 : ta));
            const auto mix = [&](int tint) {
                return int(tint + (255 - tint) * light);
            };
            const QColor out(std::clamp(mix(tr), 0, 255), std::clamp(mix(tg), 0, 255),
                             std::clamp(mix(tb), 0, 255), std::clamp(alpha, 0, 255));
            line[x] = qPremultiply(out.rgba());
        }
    }
    return image;
}

class SymbolEngine final : public QIconEngine
{
public:
    SymbolEngine(QString path, QColor color, bool whiteWhenHighlighted = false)
        : m_path(std::move(path))
        , m_color(color)
        , m_whiteWhenHighlighted(whiteWhenHighlighted)
    { }

    QIconEngine *clone() const override
    {
        return new SymbolEngine(m_path, m_color, m_whiteWhenHighlighted);
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QImage image = render(m_path, (QSizeF(rect.size()) * dpr).toSize(), colorFor(mode));
        painter->drawImage(QRectF(rect), image);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        const QColor color = colorFor(mode);
        const QString key = Text::format(QStringLiteral("sym:%1:%2x%3@%4:%5"), m_path, size.width(),
                                         size.height(), scale, color.isValid() ? color.rgba() : 0u);
        QPixmap result;
        if (QPixmapCache::find(key, &result))
            return result;
        result = QPixmap::fromImage(render(m_path, (QSizeF(size) * scale).toSize(), color));
        result.setDevicePixelRatio(scale);
        QPixmapCache::insert(key, result);
        return result;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    bool isNull() override { return false; }

private:
    QColor colorFor(QIcon::Mode mode) const
    {
        QColor color = m_color.isValid()
            ? m_color
            : (qApp ? QApplication::palette().color(QPalette::WindowText) : QColor(Qt::black));
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.35f);
        else if (mode == QIcon::Selected && !m_color.isValid())
            color = Qt::white;
        else if ((mode == QIcon::Active || mode == QIcon::Selected) && m_whiteWhenHighlighted)
            color = Qt::white;
        return color;
    }

    QString m_path;
    QColor m_color;
    bool m_whiteWhenHighlighted;
};

} // namespace

bool exists(const QString &name)
{
    initQuorvelResources();
    return !name.isEmpty() && QFile::exists(pathOf(name));
}

QIcon icon(const QString &name, const QColor &color)
{
    if (!exists(name))
        return {};
    return QIcon(new SymbolEngine(pathOf(name), color));
}

QIcon entryIcon(const QString &name, const QColor &color)
{
    if (!exists(name))
        return {};
    return QIcon(new SymbolEngine(pathOf(name), color, true));
}

QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio)
{
    if (!exists(name) || size <= 0)
        return {};
    QPixmap result = QPixmap::fromImage(render(pathOf(name), QSize(size, size) * devicePixelRatio,
                                               color.isValid() ? color : Qt::black));
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

QIcon applicationIcon()
{
    initQuorvelResources();
    QIcon result;
    for (int size : { 16, 24, 32, 48, 64, 128, 256 })
        result.addPixmap(applicationIconPixmap(size));
    return result;
}

QPixmap applicationIconPixmap(int size, qreal devicePixelRatio)
{
    initQuorvelResources();
    QPixmap result = QPixmap::fromImage(
        render(QStringLiteral(":/AppIcon.svg"), QSize(size, size) * devicePixelRatio, QColor()));
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

} // namespace Symbols
