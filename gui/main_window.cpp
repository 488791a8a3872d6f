#include "gui/main_window.h"

#include "files/support_misc.h"
#include "gui/circle.h"
#include "gui/install_button.h"
#include "gui/progress_bar.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopWidget>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace {

// The window is laid out in pixels of this design, times the scale factor.
constexpr int design_width = 665;
constexpr int design_height = 517;
const QRect design_button_rect(207, 417, 250, 40);
constexpr int design_top_offset = 50;
constexpr int design_firmware_label_width = 228;

int trunc_scaled(int value, double s) {
    return static_cast<int>(value * s);
}

QString label_style(bool white) {
    return white ? QStringLiteral("QLabel { background-color : rgba(0,0,0,0%); color : "
                                  "rgba(175,175,175,100%); }")
                 : QStringLiteral("QLabel { background-color : rgba(0,0,0,0%); color : black; }");
}

// Label text sizes are given for a 110 dpi screen; computed once per process.
double label_pixel_factor() {
    static const double factor = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        double f = screen ? screen->physicalDotsPerInch() / 110.0 : 1.0;
        if (support_misc::compiled_for_platform(support_misc::Platform::windows))
            f *= 1.3;
        return f;
    }();
    return factor;
}

} // namespace

std::optional<double> MainWindow::forced_scale_factor;

double MainWindow::platform_scale_factor() {
    if (support_misc::compiled_for_platform(support_misc::Platform::macOS))
        return 1.0;
    return QApplication::desktop()->logicalDpiX() / 96.0;
}

MainWindow::MainWindow(const Settings::Settings* settings_record, QWidget* parent)
    : QMainWindow(parent), settings(settings_record) {
    auto* central = new QWidget(this);
    setStyleSheet(QStringLiteral("QMainWindow { border-image:url(\"://resources/background.jpg\") "
                                 "0 0 0 0 stretch stretch; }"));
    scaleFactor = forced_scale_factor ? *forced_scale_factor : platform_scale_factor();
    setCentralWidget(central);
    setupGeometry();
    downloadMode = false;
    emit downloadModeChanged(); // nothing is connected yet
    connect(this, &MainWindow::downloadModeChanged, this, &MainWindow::updateDownloadMode);
}

void MainWindow::setupGeometry() {
    const double s = scaleFactor;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect screen_rect = screen ? screen->geometry() : QRect();
    setFixedSize(trunc_scaled(design_width, s), trunc_scaled(design_height, s));
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignHCenter | Qt::AlignTop,
                                    QSize(qRound(design_width * s), qRound(design_height * s)),
                                    screen_rect));
    move(pos() + QPoint(qRound(0 * s), qRound(design_top_offset * s)));

    const QRect button_rect(
        trunc_scaled(design_button_rect.x(), s), trunc_scaled(design_button_rect.y(), s),
        trunc_scaled(design_button_rect.width(), s), trunc_scaled(design_button_rect.height(), s));
    if (installButton)
        installButton->setGeometry(button_rect);
    // Same place as the button; the bar lies above it whenever the wiring shows it.
    if (progressBar) {
        progressBar->setGeometry(button_rect);
        progressBar->hide();
    }
}

void MainWindow::enableDownload() {
    downloadMode = true;
    emit downloadModeChanged();
}

void MainWindow::disableDownload() {
    downloadMode = false;
    emit downloadModeChanged();
}

void MainWindow::toggleDownload() {
    downloadMode = !downloadMode;
    emit downloadModeChanged();
}

bool MainWindow::hintFits() const {
    return !hintLabel || hintLabel->fits();
}

void MainWindow::updateDownloadMode() {
    if (installButton) {
        qInfo() << "MainWindow downloadMode: setEnabled" << downloadMode;
        installButton->setEnabled(downloadMode);
    }
    qInfo() << "Download " << (downloadMode ? "enabled" : "disabled");
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_A:
        toggleDownload();
        break;
    case Qt::Key_Q:
    case Qt::Key_Escape:
        emit finished();
        break;
    default:
        event->ignore();
        return;
    }
    event->accept();
}

MainWindow* MainWindow_factory(const Settings::Settings* settings, QWidget* parent, bool sim_mode) {
    static const QString status_id = QStringLiteral("status_noDev");
    if (settings->gui.text(status_id).isEmpty())
        qFatal("No message with id '%s' found, aborting", qPrintable(status_id));

    auto* window = new MainWindow(settings, parent);
    window->installButton = new InstallButton(window);
    add_labels(settings, window, sim_mode);
    add_hint_label(settings, window);
    window->updateDownloadMode();
    window->progressBar = new ProgressBar(window);
    window->setupGeometry();

    // Scaled copies: the settings stay as read.
    const double s = window->scaleFactor;
    std::vector<Settings::CircleData> circles = settings->gui.circles;
    for (Settings::CircleData& c : circles) {
        c.center.x = qRound(c.center.x * s);
        c.center.y = qRound(c.center.y * s);
        c.radius = trunc_scaled(c.radius, s);
        c.pen_width = trunc_scaled(c.pen_width, s);
    }
    add_circles(circles, window);
    return window;
}

namespace {

// Whether the entry becomes a label. The entry "8b2" is the install button's caption instead.
bool is_shown(const Settings::LabelData& entry, MainWindow* window, bool sim_mode) {
    if (!entry.create) {
        if (entry.id == QLatin1String("8b2") && window->installButton) {
            window->installButton->setText(entry.text);
            return false;
        }
        if (!(entry.id == QLatin1String("sim_mode") && sim_mode))
            return false;
    }
    return !entry.text.isEmpty();
}

bool is_firmware_line(const Settings::LabelData& entry) {
    return entry.id == QLatin1String("4") || entry.id == QLatin1String("4_hdr");
}

// The label with its text, alignment and role.
QLabel* make_label(const Settings::LabelData& entry, const Settings::Settings* settings,
                   MainWindow* window) {
    auto* label = new QLabel(entry.text, window);
    label->setObjectName(entry.id);
    if (entry.id == QLatin1String("2")) {
        Device::ProductInfo desired;
        desired.type = settings->desired_type;
        label->setText(entry.text.arg(desired.product_name_full()));
    }
    if (entry.id == QLatin1String("4"))
        label->setText(entry.text.arg(settings->desired_revision));

    if (entry.id == QLatin1String("2") || entry.id == QLatin1String("3"))
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (is_firmware_line(entry))
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    if (entry.id == QLatin1String("status_noDev"))
        window->statusLabel = label;
    return label;
}

void set_font(QLabel* label, const Settings::LabelData& entry) {
    if (!entry.font.isEmpty())
        label->setFont(QFont(entry.font));
    if (entry.size > 0) {
        QFont font = label->font();
        // At least one pixel: a zero size is rejected by QFont with a warning.
        font.setPixelSize(qMax(1, static_cast<int>(entry.size * label_pixel_factor())));
        label->setFont(font);
    }
}

// As large as its text, the firmware lines as wide as their column.
void set_size(QLabel* label, const Settings::LabelData& entry, double s) {
    const QFontMetrics metrics(label->font());
    int width = metrics.horizontalAdvance(label->text());
    const int lines = label->text().count(QLatin1Char('\n'));
    if (is_firmware_line(entry)) {
        width = trunc_scaled(design_firmware_label_width, s);
        qInfo() << "Overriding width to " << width << "for text:" << entry.text;
    }
    label->resize(width, metrics.height() * (lines + 1));
}

} // namespace

void add_labels(const Settings::Settings* settings, MainWindow* window, bool sim_mode) {
    window->show(); // first: the labels are measured and shown in the visible window
    const double s = window->scaleFactor;
    for (const Settings::LabelData& entry : settings->gui.labels) {
        if (!is_shown(entry, window, sim_mode))
            continue;
        QLabel* label = make_label(entry, settings, window);
        set_font(label, entry);
        set_size(label, entry, s);
        label->setStyleSheet(label_style(entry.white));
        if (entry.position.x > 0 && entry.position.y > 0)
            label->move(qRound(entry.position.x * s), qRound(entry.position.y * s));
        label->show();
    }
}

void add_hint_label(const Settings::Settings* settings, MainWindow* window) {
    const auto& labels = settings->gui.labels;
    const auto entry = std::find_if(labels.begin(), labels.end(), [](const Settings::LabelData& l) {
        return l.id == QLatin1String("status_hint");
    });
    if (entry == labels.end() || entry->position.x <= 0 || entry->position.y <= 0)
        return;
    const double s = window->scaleFactor;
    const QPoint at(qRound(entry->position.x * s), qRound(entry->position.y * s));
    auto* label = new HintLine(window);
    label->setObjectName(entry->id);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (!entry->font.isEmpty())
        label->setFont(QFont(entry->font));
    label->setStyleSheet(label_style(entry->white));
    label->setGeometry(at.x(), at.y(), window->width() - 2 * at.x(), window->height() - at.y());
    label->show();
    window->hintLabel = label;

    QLabel* status = window->statusLabel;
    if (status && status->y() < at.y() && status->geometry().bottom() >= at.y())
        status->resize(status->width(), at.y() - status->y());
}
