#pragma once
// The pages of the print preview, drawn as they come into view.
//
// The view knows the paper size and the number of pages and asks a PageDrawer for a page
// only when it is to be seen: the first paint draws the pages in view (the first page at
// once, whatever the number of pages), and a timer then draws the others in view and the
// pages just before and after them, one per turn of the event loop. Drawn pages are kept as
// images at the zoom they were drawn for; an image of an earlier zoom stands in, scaled,
// until the page is drawn again. At a zoom where a page's image would be too large, the
// visible part of the page is drawn straight onto the screen.
//
// Pages are laid out one under the other, two side by side, or all of them in a square grid;
// the zoom is a factor of the paper's real size on the screen, or follows the view's width
// or its whole height. Pages are numbered from 1.

#include <QAbstractScrollArea>
#include <QImage>
#include <QSizeF>
#include <QTimer>

#include <functional>
#include <unordered_map>
#include <vector>

class QPainter;

namespace iit::printing {

class PageView : public QAbstractScrollArea {
    Q_OBJECT

public:
    enum class ZoomMode { Custom, FitWidth, FitPage };
    enum class ViewMode { SinglePage, FacingPages, AllPages };
    // Draws page `index` (from 0) on a white sheet that fills `paper`.
    using PageDrawer = std::function<void(QPainter& painter, int index, const QRectF& paper)>;

    explicit PageView(QWidget* parent = nullptr);
    ~PageView() override;

    // A new document: its paper in millimetres, its pages and how to draw them. The pages
    // drawn before are forgotten; the view goes to the first page.
    void setDocument(const QSizeF& paperMm, int pageCount, PageDrawer drawer);
    int pageCount() const { return m_pageCount; }

    int currentPage() const { return m_current; }
    void setCurrentPage(int page);

    double zoomFactor() const { return m_zoom; }
    void setZoomFactor(double zoom); // the mode becomes Custom
    ZoomMode zoomMode() const { return m_zoomMode; }
    void setZoomMode(ZoomMode mode);
    void zoomIn(double factor = 1.1);
    void zoomOut(double factor = 1.1);
    ViewMode viewMode() const { return m_viewMode; }
    void setViewMode(ViewMode mode);

    // Whether the page has been drawn since the document was set.
    bool pageDrawn(int page) const;

signals:
    void currentPageChanged(int page);
    void zoomChanged(double zoom);
    void documentChanged(int pageCount);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    struct Cached {
        QImage image;
        double zoom = 0;
        unsigned long long used = 0;
    };

    int columns() const;
    int rows() const;
    QSizeF pageSize() const; // on the screen at the zoom
    QSizeF contentSize() const;
    QPointF origin() const;                               // the content's top-left in the viewport
    QRectF pageRect(int index) const;                     // in the viewport
    std::pair<int, int> pagesIn(const QRect& area) const; // indexes, first > last when none
    double fittedZoom(ZoomMode mode) const;
    bool keepsImages() const;
    void applyZoom(double zoom);
    void updateScrollBars();
    void updateCurrentPage();
    const Cached* imageOf(int index) const;
    void render(int index);
    void drawPage(QPainter& painter, int index, const QRectF& page) const;
    void drawMissingPage();
    void forgetOldImages();

    QSizeF m_paperPixels; // the paper at zoom 1
    int m_pageCount = 0;
    PageDrawer m_drawer;
    double m_zoom = 1;
    ZoomMode m_zoomMode = ZoomMode::FitPage;
    ViewMode m_viewMode = ViewMode::SinglePage;
    int m_current = 1;
    bool m_moving = false; // the view is being moved to a page
    std::unordered_map<int, Cached> m_images;
    unsigned long long m_clock = 0;
    std::vector<bool> m_drawn;
    QTimer m_drawTimer;
};

} // namespace iit::printing
