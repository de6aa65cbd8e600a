#include "printing/preview_dialog.h"

#include "printing/page_view.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QIcon>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>

namespace iit::printing {
namespace {

// The pictures of the tool bar: the desktop theme's, else those Qt's print support carries.
QIcon toolIcon(const QString& name) {
    static const QString kPrefix =
        QStringLiteral(":/qt-project.org/dialogs/qprintpreviewdialog/images/");
    QIcon icon = QIcon::fromTheme(name);
    icon.addFile(kPrefix + name + QStringLiteral("-24.png"), QSize(24, 24));
    icon.addFile(kPrefix + name + QStringLiteral("-32.png"), QSize(32, 32));
    return icon;
}

// The zoom choices, in percent.
constexpr double kZooms[] = {12.5, 25, 50, 75, 100, 125, 150, 200, 400, 800};

} // namespace

PreviewDialog::PreviewDialog(QWidget* parent) : QDialog(parent) {
    m_bar = new QToolBar(this);
    m_view = new PageView(this);
    m_view->setObjectName(QStringLiteral("预览页面"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_bar);
    layout->addWidget(m_view);

    m_fitWidth = makeAction(QStringLiteral("zoom-fit-width"), QStringLiteral("适合宽度"), true);
    m_fitPage = makeAction(QStringLiteral("zoom-fit-page"), QStringLiteral("适合页面"), true);
    m_zoom = new QComboBox(m_bar);
    m_zoom->setEditable(true);
    m_zoom->setMinimumContentsLength(7);
    m_zoom->setInsertPolicy(QComboBox::NoInsert);
    m_zoom->setToolTip(QStringLiteral("缩放比例"));
    for (double z : kZooms)
        m_zoom->addItem(QString::number(z) + QLatin1Char('%'));
    m_bar->addWidget(m_zoom);
    QAction* zoomOut = makeAction(QStringLiteral("zoom-out"), QStringLiteral("缩小"));
    QAction* zoomIn = makeAction(QStringLiteral("zoom-in"), QStringLiteral("放大"));
    m_bar->addSeparator();
    m_portrait = makeAction(QStringLiteral("layout-portrait"), QStringLiteral("纵向"), true);
    m_landscape = makeAction(QStringLiteral("layout-landscape"), QStringLiteral("横向"), true);
    m_bar->addSeparator();
    m_first = makeAction(QStringLiteral("go-first"), QStringLiteral("第一页"));
    m_previous = makeAction(QStringLiteral("go-previous"), QStringLiteral("上一页"));
    m_page = new QLineEdit(m_bar);
    m_page->setObjectName(QStringLiteral("页码"));
    m_page->setAlignment(Qt::AlignRight);
    m_page->setFixedWidth(m_page->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
    m_pageNumbers = new QIntValidator(1, 1, m_page);
    m_page->setValidator(m_pageNumbers);
    m_bar->addWidget(m_page);
    m_pages = new QLabel(m_bar);
    m_pages->setObjectName(QStringLiteral("页数"));
    m_bar->addWidget(m_pages);
    m_next = makeAction(QStringLiteral("go-next"), QStringLiteral("下一页"));
    m_last = makeAction(QStringLiteral("go-last"), QStringLiteral("最后一页"));
    m_bar->addSeparator();
    m_single = makeAction(QStringLiteral("view-pages-single"), QStringLiteral("单页"), true);
    m_facing = makeAction(QStringLiteral("view-pages-facing"), QStringLiteral("对开页"), true);
    m_all = makeAction(QStringLiteral("view-pages-overview"), QStringLiteral("全部页面"), true);
    m_bar->addSeparator();
    QAction* setup = makeAction(QStringLiteral("page-setup"), QStringLiteral("页面设置"));
    QAction* print = makeAction(QStringLiteral("printer"), QStringLiteral("打印"));
    m_bar->addSeparator();
    QAction* save = m_bar->addAction(QStringLiteral("保存为PDF"));
    save->setObjectName(QStringLiteral("保存为PDF"));
    save->setToolTip(QStringLiteral("把缴纳表保存为 PDF 文件"));

    auto* fits = new QActionGroup(this);
    fits->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    fits->addAction(m_fitWidth);
    fits->addAction(m_fitPage);
    auto* orientations = new QActionGroup(this);
    orientations->addAction(m_portrait);
    orientations->addAction(m_landscape);
    auto* modes = new QActionGroup(this);
    for (QAction* a : {m_single, m_facing, m_all})
        modes->addAction(a);
    m_single->setChecked(true);
    m_fitPage->setChecked(true);

    connect(m_fitWidth, &QAction::triggered, this, [this](bool on) {
        m_view->setZoomMode(on ? PageView::ZoomMode::FitWidth : PageView::ZoomMode::Custom);
    });
    connect(m_fitPage, &QAction::triggered, this, [this](bool on) {
        m_view->setZoomMode(on ? PageView::ZoomMode::FitPage : PageView::ZoomMode::Custom);
    });
    connect(zoomIn, &QAction::triggered, this, [this] { m_view->zoomIn(); });
    connect(zoomOut, &QAction::triggered, this, [this] { m_view->zoomOut(); });
    connect(m_zoom->lineEdit(), &QLineEdit::editingFinished, this, [this] { zoomTyped(); });
    connect(m_zoom, &QComboBox::textActivated, this, [this] { zoomTyped(); });
    connect(m_portrait, &QAction::triggered, this,
            [this] { emit orientationRequested(QPageLayout::Portrait); });
    connect(m_landscape, &QAction::triggered, this,
            [this] { emit orientationRequested(QPageLayout::Landscape); });
    connect(m_first, &QAction::triggered, this, [this] { m_view->setCurrentPage(1); });
    connect(m_previous, &QAction::triggered, this,
            [this] { m_view->setCurrentPage(m_view->currentPage() - 1); });
    connect(m_next, &QAction::triggered, this,
            [this] { m_view->setCurrentPage(m_view->currentPage() + 1); });
    connect(m_last, &QAction::triggered, this,
            [this] { m_view->setCurrentPage(m_view->pageCount()); });
    connect(m_page, &QLineEdit::editingFinished, this, [this] { pageTyped(); });
    connect(m_single, &QAction::triggered, this,
            [this] { m_view->setViewMode(PageView::ViewMode::SinglePage); });
    connect(m_facing, &QAction::triggered, this,
            [this] { m_view->setViewMode(PageView::ViewMode::FacingPages); });
    connect(m_all, &QAction::triggered, this, [this] {
        m_view->setViewMode(PageView::ViewMode::AllPages);
        showZoom();
    });
    connect(setup, &QAction::triggered, this, [this] { emit pageSetupRequested(); });
    connect(print, &QAction::triggered, this, [this] { emit printRequested(); });
    connect(save, &QAction::triggered, this, [this] { emit savePdfRequested(); });

    connect(m_view, &PageView::zoomChanged, this, [this] { showZoom(); });
    connect(m_view, &PageView::currentPageChanged, this, [this] { showPage(); });
    connect(m_view, &PageView::documentChanged, this, [this](int pages) {
        m_pages->setText(QStringLiteral("/ %1").arg(pages));
        m_pageNumbers->setRange(1, std::max(pages, 1));
        showPage();
    });
    showZoom();
    showPage();
}

PreviewDialog::~PreviewDialog() = default;

QAction* PreviewDialog::makeAction(const QString& icon, const QString& name, bool checkable) {
    QAction* action = m_bar->addAction(toolIcon(icon), name);
    action->setObjectName(name);
    action->setCheckable(checkable);
    return action;
}

void PreviewDialog::setOrientation(QPageLayout::Orientation orientation) {
    (orientation == QPageLayout::Landscape ? m_landscape : m_portrait)->setChecked(true);
}

void PreviewDialog::showZoom() {
    m_zoom->setEditText(QString::number(m_view->zoomFactor() * 100, 'f', 1) + QLatin1Char('%'));
    m_fitWidth->setChecked(m_view->zoomMode() == PageView::ZoomMode::FitWidth);
    m_fitPage->setChecked(m_view->zoomMode() == PageView::ZoomMode::FitPage);
}

void PreviewDialog::showPage() {
    const int page = m_view->currentPage();
    const int pages = m_view->pageCount();
    m_page->setText(QString::number(page));
    m_first->setEnabled(page > 1);
    m_previous->setEnabled(page > 1);
    m_next->setEnabled(page < pages);
    m_last->setEnabled(page < pages);
}

void PreviewDialog::zoomTyped() {
    QString text = m_zoom->currentText().trimmed();
    if (text.endsWith(QLatin1Char('%'))) text.chop(1);
    bool ok = false;
    const double percent = text.toDouble(&ok);
    if (ok && percent > 0) m_view->setZoomFactor(percent / 100);
    showZoom();
}

void PreviewDialog::pageTyped() {
    bool ok = false;
    const int page = m_page->text().toInt(&ok);
    if (ok) m_view->setCurrentPage(page);
    showPage();
}

} // namespace iit::printing
