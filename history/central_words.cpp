#include "history/central_words.h"

namespace History {

QString central_words(const CentralState& state, const Settings::Texts& texts) {
    using Kind = CentralState::Kind;
    const auto text = [&texts](const char* id) { return texts.text(QLatin1String(id)); };
    const QString waiting = QString::number(state.waiting);
    const QString hh_mm = QStringLiteral("HH:mm");
    switch (state.kind) {
    case Kind::connecting:
        return text("central_connecting");
    case Kind::up_to_date:
        return text("central_up_to_date");
    case Kind::shipping:
        return text("central_shipping").arg(waiting);
    case Kind::not_reached:
        return state.reached_at.isValid()
                   ? text("central_not_reached").arg(waiting, state.reached_at.toString(hh_mm))
                   : text("central_never_reached").arg(waiting, state.why);
    case Kind::not_answering:
        return text("central_not_answering").arg(state.silent_since.toString(hh_mm));
    case Kind::refused:
        return text("central_refused").arg(state.why);
    case Kind::unknown_schema:
        return text("central_unknown_schema").arg(state.why);
    }
    return QString();
}

} // namespace History
