#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "Version.h"

namespace {

constexpr int kUsageError = 2;

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString name =
        arguments.isEmpty() ? QStringLiteral("sayalike") : QFileInfo(arguments[0]).fileName();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sayalike, a pronunciation trainer: listen to a narrator, repeat the "
                       "phrase and compare."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("An MP3 or WAV recording to open at start."),
                                 QStringLiteral("[FILE]"));
    const bool parsed = parser.parse(arguments);
    // No application object exists yet, so the parser cannot name the program.
    const QString usage =
        parser.helpText().replace(QStringLiteral("<executable_name>"), name, Qt::CaseSensitive);

    CommandLine result;
    if (!parsed || parser.positionalArguments().size() > 1) {
        const QString error =
            parsed ? QStringLiteral("Only one FILE can be opened.") : parser.errorText();
        Print(stderr, name + QStringLiteral(": ") + error + QLatin1Char('\n') + usage);
        result.exitCode = kUsageError;
    } else if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        Print(stdout, usage);
        result.exitCode = 0;
    } else if (parser.isSet(version)) {
        Print(stdout, QStringLiteral("Sayalike " SAYALIKE_VERSION "\n"));
        result.exitCode = 0;
    } else if (!parser.positionalArguments().isEmpty()) {
        result.file = QFileInfo(parser.positionalArguments().constFirst()).absoluteFilePath();
    }
    return result;
}

QString SampleFile() {
    const QFileInfo sample(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/sayalike/narrator-sample.mp3"));
    return sample.isFile() ? sample.canonicalFilePath() : QString();
}
