#include "app/MessageText.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QtGlobal>

namespace app {
namespace {

// Messages with a file name: fixed words around the name, then at times the system's reason (": No
// space left on device").
constexpr const char* kPatterns[] = {
    QT_TRANSLATE_NOOP("Messages", "Erro gravando \"%1\""),
    QT_TRANSLATE_NOOP("Messages", "Não foi possível substituir \"%1\" pelo arquivo normalizado"),
    QT_TRANSLATE_NOOP("Messages", "Não foi possível completar \"%1\""),
    QT_TRANSLATE_NOOP("Messages", "Não foi possível criar \"%1\""),
    QT_TRANSLATE_NOOP("Messages", "Erro lendo \"%1\": os dados terminam antes do esperado"),
    // The conversion's and the preview's messages about one file.
    QT_TRANSLATE_NOOP("Messages", "Espaço insuficiente no disco para gravar o arquivo %1"),
    QT_TRANSLATE_NOOP("Messages", "Erro ao gravar o arquivo %1"),
    QT_TRANSLATE_NOOP("Messages", "O arquivo %1 não existe mais"),
    QT_TRANSLATE_NOOP("Messages", "O arquivo %1 não pode ser lido"),
};

const QRegularExpression& Placeholder() {
  static const QRegularExpression placeholder(QStringLiteral("%([1-9])"));
  return placeholder;
}

// The pattern as a regular expression: its words literally, each %n a capture, then any tail.
QRegularExpression PatternExpression(const QString& pattern) {
  QString expression = QStringLiteral("^");
  qsizetype from = 0;
  for (auto it = Placeholder().globalMatch(pattern); it.hasNext();) {
    const QRegularExpressionMatch placeholder = it.next();
    expression += QRegularExpression::escape(pattern.mid(from, placeholder.capturedStart() - from));
    expression += QStringLiteral("(.+?)");
    from = placeholder.capturedEnd();
  }
  expression += QRegularExpression::escape(pattern.mid(from)) + QStringLiteral("(.*)$");
  return QRegularExpression(expression, QRegularExpression::DotMatchesEverythingOption);
}

// `translated` with each %n replaced by capture n of `match`, in one pass (a name holding "%2"
// stays as it is).
QString Fill(const QString& translated, const QRegularExpressionMatch& match) {
  QString result;
  qsizetype from = 0;
  for (auto it = Placeholder().globalMatch(translated); it.hasNext();) {
    const QRegularExpressionMatch placeholder = it.next();
    result += translated.mid(from, placeholder.capturedStart() - from);
    result += match.captured(placeholder.captured(1).toInt());
    from = placeholder.capturedEnd();
  }
  return result + translated.mid(from);
}

}  // namespace

QString TranslateMessage(const QString& text) {
  const QString whole = QCoreApplication::translate(kMessageContext, text.toUtf8().constData());
  if (whole != text) return whole;
  for (const char* pattern : kPatterns) {
    const QString original = QString::fromUtf8(pattern);
    const QString translated = QCoreApplication::translate(kMessageContext, pattern);
    if (translated == original) continue;
    const QRegularExpression expression = PatternExpression(original);
    const QRegularExpressionMatch match = expression.match(text);
    if (match.hasMatch())
      return Fill(translated, match) + match.captured(expression.captureCount());
  }
  return text;
}

}  // namespace app
