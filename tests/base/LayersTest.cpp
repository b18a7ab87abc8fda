// The layers as facts of the build: a file includes only its own layer and
// those below it, and nothing in the core libraries includes or links Qt
// Widgets (the window toolkit belongs to the windows, so that the command
// line and the logic tests never need a display).
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <map>
#include <set>

namespace {

// base < link < measurement, service < evaluation, parameters < archive
// < calibration < shell < tools: folders of one rank know nothing of each
// other.
const std::map<QString, int> kRank = {{"base", 0},        {"link", 1},        {"measurement", 2}, {"service", 2},
                                      {"evaluation", 3},  {"parameters", 3},  {"archive", 4},     {"calibration", 5},
                                      {"shell", 6},       {"tools", 7}};

struct Layers {
  std::map<QString, QStringList> sources;  // library: its files
  std::map<QString, QStringList> links;    // library: what it links
  std::map<QString, QStringList> dirs;     // library: the folder its relative files are in
};

// What the build wrote of its libraries (tests/base/CMakeLists.txt).
Layers builtLayers() {
  Layers l;
  QFile f(QStringLiteral(QUELM_LAYERS_FILE));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << QUELM_LAYERS_FILE;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const QList<QByteArray> parts = line.split('\t');
    if (parts.size() != 3) continue;
    auto& target = parts[1] == "sources" ? l.sources : parts[1] == "links" ? l.links : l.dirs;
    target[QString::fromUtf8(parts[0])] = QString::fromUtf8(parts[2]).split(QLatin1Char(';'), Qt::SkipEmptyParts);
  }
  return l;
}

QString layerOf(const QString& relative) {  // "src/archive/Archive.cpp" -> "archive"
  const QStringList parts = relative.split(QLatin1Char('/'));
  if (parts.value(0) == QLatin1String("tools")) return QStringLiteral("tools");
  return parts.value(1);
}

// Every "folder/..." include of a file.
QStringList includedLayers(const QString& path) {
  static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s+\"([a-z]+)/"),
                                          QRegularExpression::MultilineOption);
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QStringList found;
  auto it = include.globalMatch(QString::fromUtf8(f.readAll()));
  while (it.hasNext()) {
    const QString folder = it.next().captured(1);
    if (kRank.count(folder)) found << folder;
  }
  return found;
}

bool includesWidgets(const QString& path) {
  static const QRegularExpression widgets(
      QStringLiteral("^\\s*#\\s*include\\s+<(QtWidgets/.*|QtCharts/.*|QtPrintSupport/.*|Q(Widget|Dialog|MainWindow|"
                     "Application|Label|PushButton|LineEdit|ComboBox|TableView|TableWidget|ListView|ListWidget|"
                     "MessageBox|FileDialog|Layout|VBoxLayout|HBoxLayout|GridLayout|FormLayout|Printer|PrintDialog|"
                     "ChartView|Chart|ProgressBar|Splitter|TabWidget|GroupBox|CheckBox|SpinBox|Menu|MenuBar|"
                     "StatusBar|PlainTextEdit|HeaderView|AbstractItemView|StyledItemDelegate))>"),
      QRegularExpression::MultilineOption);
  QFile f(path);
  return f.open(QIODevice::ReadOnly) && widgets.match(QString::fromUtf8(f.readAll())).hasMatch();
}

TEST(Layers, EveryIncludePointsToTheFilesOwnLayerOrBelow) {
  const QDir root(QStringLiteral(QUELM_SOURCE_DIR));
  int files = 0;
  for (const QString& top : {QStringLiteral("src"), QStringLiteral("tools")}) {
    QDirIterator it(root.filePath(top), {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      const QString own = layerOf(root.relativeFilePath(path));
      if (!kRank.count(own)) continue;
      ++files;
      for (const QString& layer : includedLayers(path)) {
        const bool below = kRank.at(layer) < kRank.at(own);
        EXPECT_TRUE(layer == own || below) << root.relativeFilePath(path).toStdString() << " includes " << layer.toStdString()
                                           << "/..., a layer " << (kRank.at(layer) == kRank.at(own) ? "beside" : "above")
                                           << " its own";
      }
    }
  }
  EXPECT_GT(files, 200) << "the sources were found";
}

TEST(Layers, TheCoreLibrariesNeitherIncludeNorLinkTheWindowToolkit) {
  const Layers built = builtLayers();
  const QStringList core = {QStringLiteral("quelm_core"), QStringLiteral("quelm_archive"),
                            QStringLiteral("quelm_archive_print"), QStringLiteral("quelm_calibration"),
                            QStringLiteral("quelm_calibration_print")};
  for (const QString& library : core) {
    ASSERT_TRUE(built.sources.count(library)) << library.toStdString();
    const QDir dir(built.dirs.count(library) ? built.dirs.at(library).value(0) : QString());
    int read = 0;
    for (const QString& file : built.sources.at(library))
      if (file.endsWith(QLatin1String(".cpp")) || file.endsWith(QLatin1String(".h"))) {
        const QString path = dir.absoluteFilePath(file);
        read += QFile::exists(path);
        EXPECT_FALSE(includesWidgets(path)) << library.toStdString() << ": " << path.toStdString();
      }
    EXPECT_GT(read, 0) << library.toStdString() << ": its files were found";
    // What it links, and what those link, down to the bottom.
    std::set<QString> seen;
    QStringList todo = {library};
    while (!todo.isEmpty()) {
      const QString next = todo.takeFirst();
      if (!seen.insert(next).second || !built.links.count(next)) continue;
      for (const QString& linked : built.links.at(next)) {
        EXPECT_FALSE(linked.contains(QLatin1String("Widgets")) || linked.contains(QLatin1String("Charts")) ||
                     linked.contains(QLatin1String("PrintSupport")) || linked == QLatin1String("quelm_widgets"))
            << library.toStdString() << " links " << linked.toStdString() << " (through " << next.toStdString() << ")";
        todo << linked;
      }
    }
  }
}

}  // namespace
