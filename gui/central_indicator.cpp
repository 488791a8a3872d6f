#include "gui/central_indicator.h"

#include "gui/main_window.h"

CentralIndicator::CentralIndicator(const QString& text_template_, MainWindow* window)
    : QLabel(window), text_template(text_template_) {
    setObjectName(QStringLiteral("central_record"));
    setTextFormat(Qt::RichText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void CentralIndicator::say(const QString& words) {
    setText(text_template.arg(words.toHtmlEscaped()));
    setToolTip(words); // the whole words, should the window cut the line
    adjustSize();
    if (parentWidget() && x() + width() > parentWidget()->width() - x())
        resize(parentWidget()->width() - 2 * x(), height());
}

CentralIndicator* add_central_indicator(const Settings::Settings* settings, MainWindow* window) {
    const auto& labels = settings->gui.labels;
    const auto entry = std::find_if(labels.begin(), labels.end(), [](const Settings::LabelData& l) {
        return l.id == QLatin1String("central_record");
    });
    if (entry == labels.end() || entry->position.x <= 0 || entry->position.y <= 0)
        return nullptr;
    auto* indicator = new CentralIndicator(entry->text, window);
    const double s = window->scaleFactor;
    indicator->move(qRound(entry->position.x * s), qRound(entry->position.y * s));
    indicator->show();
    return indicator;
}
