#pragma once
// The print preview window: a tool bar over the page view.
//
// The tool bar holds, in this order: fit to width and fit the page, the zoom in percent,
// zoom out and in; portrait and landscape; the first, previous, next and last page around
// the page number and the page count; one page, facing pages and all pages; page setup and
// print; and "保存为PDF". Zoom, navigation and the view modes act on the page view; the
// orientation, page setup, print and save are asked of the owner through signals.

#include <QDialog>
#include <QPageLayout>

class QAction;
class QComboBox;
class QIntValidator;
class QLabel;
class QLineEdit;
class QToolBar;

namespace iit::printing {

class PageView;

class PreviewDialog : public QDialog {
    Q_OBJECT

public:
    explicit PreviewDialog(QWidget* parent = nullptr);
    ~PreviewDialog() override;

    PageView* pageView() const { return m_view; }
    QToolBar* toolBar() const { return m_bar; }
    // Shows the orientation the pages have.
    void setOrientation(QPageLayout::Orientation orientation);

signals:
    void orientationRequested(QPageLayout::Orientation orientation);
    void pageSetupRequested();
    void printRequested();
    void savePdfRequested();

private:
    QAction* makeAction(const QString& icon, const QString& name, bool checkable = false);
    void showZoom();
    void showPage();
    void zoomTyped();
    void pageTyped();

    QToolBar* m_bar = nullptr;
    PageView* m_view = nullptr;
    QComboBox* m_zoom = nullptr;
    QLineEdit* m_page = nullptr;
    QIntValidator* m_pageNumbers = nullptr;
    QLabel* m_pages = nullptr;
    QAction* m_fitWidth = nullptr;
    QAction* m_fitPage = nullptr;
    QAction* m_portrait = nullptr;
    QAction* m_landscape = nullptr;
    QAction* m_first = nullptr;
    QAction* m_previous = nullptr;
    QAction* m_next = nullptr;
    QAction* m_last = nullptr;
    QAction* m_single = nullptr;
    QAction* m_facing = nullptr;
    QAction* m_all = nullptr;
};

} // namespace iit::printing
