// zimbrel_dolphin.so loaded the way Dolphin loads it: found by KIO's scan of
// kf5/kfileitemaction/ on Qt's plugin path (the build's plugins/ folder),
// created through KPluginFactory, asked for actions with KFileItems of real
// files; and through KFileItemActions, the KIO class that builds Dolphin's
// context menu. Runs on Qt's minimal platform (no display).
#include <gtest/gtest.h>
#include <libintl.h>

#include <KAbstractFileItemActionPlugin>
#include <KFileItem>
#include <KFileItemActions>
#include <KFileItemListProperties>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QLibrary>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shellext_test_support.h"

namespace {

namespace fs = std::filesystem;
using zb::testing::LibraryMapped;
using zb::testing::ScopedEnv;
using zb::testing::TempDir;

constexpr char kEntry[] = "Send to Phone as Ringtone";
constexpr char kHelp[] =
    "Use Zimbrel to personalize and send this song to your mobile phone as ringtone";
constexpr char kLaunchError[] =
    "An error occured while trying to launch Zimbrel!           \n"
    "If this problem persists, please re-install the application.\n\nClick OK to continue.";

// The plugin's metadata as KIO's scan finds it.
KPluginMetaData FindPlugin() {
  const QVector<KPluginMetaData> found = KPluginMetaData::findPlugins(
      QStringLiteral("kf5/kfileitemaction"),
      [](const KPluginMetaData& md) { return md.pluginId() == QLatin1String("zimbrel_dolphin"); });
  return found.isEmpty() ? KPluginMetaData() : found.first();
}

KFileItemListProperties Props(const std::vector<std::string>& paths) {
  KFileItemList items;
  for (const auto& p : paths) items << KFileItem(QUrl::fromLocalFile(QFile::decodeName(p.c_str())));
  return KFileItemListProperties(items);
}

QStringList Texts(const QList<QAction*>& actions) {
  QStringList out;
  for (QAction* a : actions)
    if (!a->isSeparator()) out << a->text();
  return out;
}

// While `run` waits in a nested loop, answers the first message box that
// shows with `button`; returns what the box showed.
struct BoxSeen {
  QString title, text;
  QStringList buttons;
  bool hasIcon = true;
};
BoxSeen AnswerBox(const std::function<void()>& run, QMessageBox::StandardButton button) {
  BoxSeen seen;
  QTimer poll;
  int ticks = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      if (++ticks > 500) poll.stop();  // 10 s: give up, the test then fails
      return;
    }
    poll.stop();
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.hasIcon = box->icon() != QMessageBox::NoIcon;
    for (QAbstractButton* b : box->buttons()) seen.buttons << b->text().remove(QLatin1Char('&'));
    box->button(button)->click();
  });
  poll.start(20);
  run();
  return seen;
}

class DolphinPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "Music/folder.mp3");
    for (const auto& f : {m_song, m_other, m_notes, m_loud, m_quoted}) std::ofstream(f) << "audio?";
    zb::testing::ProvisionApprovalKey();
    zb::testing::MakeFakeProgram(m_app, m_record);
    zb::testing::WriteInstDir(m_app);
    m_metaData = FindPlugin();
    ASSERT_TRUE(m_metaData.isValid()) << "no zimbrel_dolphin in kf5/kfileitemaction";
    auto result = KPluginFactory::instantiatePlugin<KAbstractFileItemActionPlugin>(m_metaData);
    ASSERT_TRUE(result.plugin) << result.errorString.toStdString();
    m_plugin.reset(result.plugin);
  }

  void Register() {
    ASSERT_EQ(std::system((std::string(REGSVR_TOOL) + " " + DOVETRIL_SO + " >/dev/null").c_str()),
              0);
  }

  QList<QAction*> ActionsFor(const std::vector<std::string>& paths) {
    return m_plugin->actions(Props(paths), nullptr);
  }

  TempDir m_dir;
  ScopedEnv m_env{"ZIMBREL_REGISTRY_DIR", m_dir / "reg"};
  std::string m_app = m_dir / "app";
  std::string m_record = m_dir / "argv";
  std::string m_song = m_dir / "Music/my song.mp3";
  std::string m_other = m_dir / "Music/other.mp3";
  std::string m_notes = m_dir / "Music/notes.txt";
  std::string m_loud = m_dir / "Music/LOUD.M4A";
  std::string m_quoted = m_dir / "Music/it's \"the\"   one.ogg";
  std::string m_folder = m_dir / "Music/folder.mp3";
  KPluginMetaData m_metaData;
  std::unique_ptr<KAbstractFileItemActionPlugin> m_plugin;
};

TEST_F(DolphinPluginTest, MetadataAsksForEveryFileAndTheTopLevelOfTheMenu) {
  EXPECT_EQ(m_metaData.mimeTypes(), QStringList{QStringLiteral("application/octet-stream")});
  EXPECT_NE(m_metaData.value(QStringLiteral("X-KDE-Show-In-Submenu")), QStringLiteral("true"));
  EXPECT_EQ(fs::path(m_metaData.fileName().toStdString()).filename(), "zimbrel_dolphin.so");
}

TEST_F(DolphinPluginTest, UnregisteredOffersNothing) {
  EXPECT_TRUE(ActionsFor({m_song}).isEmpty());
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO));
}

TEST_F(DolphinPluginTest, OneAudioFileGetsTheEntryAndChoosingItStartsTheProgram) {
  Register();
  QList<QAction*> actions = ActionsFor({m_song});
  ASSERT_EQ(Texts(actions), QStringList{kEntry});
  QAction* entry = actions.first();
  EXPECT_EQ(entry->toolTip(), kHelp);
  EXPECT_EQ(entry->parent(), m_plugin.get());

  // The icon is the handler's bitmap, pixel for pixel (Qt's reader widens
  // the file's 5-bit channels by a shift: within one 5-bit step).
  QImage bitmap(QStringLiteral(DOVETRIL_PHONE_BMP));
  ASSERT_EQ(bitmap.size(), QSize(13, 13));
  QImage icon = entry->icon().pixmap(13, 13).toImage();
  ASSERT_EQ(icon.size(), QSize(13, 13));
  int worst = 0;
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 13; ++x) {
      QColor a = icon.pixelColor(x, y), b = bitmap.pixelColor(x, y);
      worst = std::max({worst, std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                        std::abs(a.blue() - b.blue())});
    }
  EXPECT_LE(worst, 8);

  EXPECT_TRUE(LibraryMapped(DOVETRIL_SO));  // the handler lives while its action does
  entry->trigger();
  EXPECT_EQ(zb::testing::WaitForRecord(m_record),
            (std::vector<std::string>{m_app + "/zimbrel", m_song}));
  m_plugin.reset();
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO)) << "the library says it may be unloaded";
}

TEST_F(DolphinPluginTest, TheWholePathReachesTheProgramAndCaseIsIgnored) {
  Register();
  QList<QAction*> actions = ActionsFor({m_quoted});
  ASSERT_EQ(Texts(actions), QStringList{kEntry});
  actions.first()->trigger();
  EXPECT_EQ(zb::testing::WaitForRecord(m_record),
            (std::vector<std::string>{m_app + "/zimbrel", m_quoted}));
  EXPECT_EQ(Texts(ActionsFor({m_loud})), QStringList{kEntry});
}

TEST_F(DolphinPluginTest, NoEntryForOtherSelections) {
  Register();
  EXPECT_TRUE(ActionsFor({m_notes}).isEmpty());
  EXPECT_TRUE(ActionsFor({m_song, m_other}).isEmpty());
  EXPECT_TRUE(ActionsFor({m_folder}).isEmpty()) << "a folder named like a song";
  EXPECT_TRUE(ActionsFor({}).isEmpty());
  // Not a local file: KIO knows no local path for it.
  KFileItemList remote{KFileItem(QUrl(QStringLiteral("sftp://host/music/song.mp3")),
                                 QStringLiteral("audio/mpeg"), S_IFREG)};
  EXPECT_TRUE(m_plugin->actions(KFileItemListProperties(remote), nullptr).isEmpty());
  // A name that is not valid UTF-8 reaches the plugin with U+FFFD in it.
  std::string bad = m_dir / "Music/bad\xff.mp3";
  std::ofstream(bad) << "x";
  EXPECT_TRUE(ActionsFor({bad}).isEmpty());
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO));
}

TEST_F(DolphinPluginTest, KioPutsTheEntryAtTheTopOfTheMenuForOneAudioFileOnly) {
  Register();
  auto topLevel = [](const std::vector<std::string>& paths, QStringList* inSubmenus) {
    KFileItemActions kio;
    kio.setItemListProperties(Props(paths));
    QMenu menu;
    kio.addActionsTo(&menu, KFileItemActions::MenuActionSource::Plugins);
    QStringList top;
    for (QAction* a : menu.actions()) {
      if (a->menu())
        *inSubmenus << Texts(a->menu()->actions());
      else if (!a->isSeparator())
        top << a->text();
    }
    return top;
  };
  QStringList sub;
  EXPECT_EQ(topLevel({m_song}, &sub).count(kEntry), 1);
  EXPECT_EQ(topLevel({m_notes}, &sub).count(kEntry), 0);
  EXPECT_EQ(topLevel({m_song, m_other}, &sub).count(kEntry), 0);
  EXPECT_EQ(topLevel({m_folder}, &sub).count(kEntry), 0);
  EXPECT_EQ(sub.count(kEntry), 0);
}

TEST_F(DolphinPluginTest, ActionsOfEarlierMenusDoNotPileUp) {
  Register();
  QMenu live;
  live.addActions(ActionsFor({m_song}));
  QPointer<QAction> kept = live.actions().first();
  for (int i = 0; i < 20; ++i) ActionsFor({m_song});  // never put in a menu
  EXPECT_TRUE(kept) << "an action a menu still holds stays";
  EXPECT_EQ(m_plugin->findChildren<QAction*>().size(), 2);
  live.clear();
  ActionsFor({m_notes});
  EXPECT_FALSE(kept);
  EXPECT_TRUE(m_plugin->findChildren<QAction*>().isEmpty());
}

TEST_F(DolphinPluginTest, LaunchErrorShowsQtsBoxWhenTheProgramIsNotThere) {
  Register();
  zb::testing::WriteInstDir(m_dir / "nowhere");
  QList<QAction*> actions = ActionsFor({m_song});
  ASSERT_EQ(actions.size(), 1);
  BoxSeen seen = AnswerBox([&] { actions.first()->trigger(); }, QMessageBox::Ok);
  EXPECT_EQ(seen.title, "Fatal Error");
  EXPECT_EQ(seen.text, kLaunchError);
  EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
  EXPECT_FALSE(seen.hasIcon);
  EXPECT_FALSE(fs::exists(m_record));
}

// Dolphin in a German session: the entry, its tooltip and the launch error
// come from the catalogue beside dovetril.so; Dolphin's own text domain is
// left as it was.
TEST_F(DolphinPluginTest, UnderAGermanLocaleTheEntryAndItsErrorAreGerman) {
  Register();
  const std::string domain = textdomain(nullptr);
  const std::string messages = setlocale(LC_MESSAGES, nullptr);
  ASSERT_NE(setlocale(LC_MESSAGES, "de_DE.UTF-8"), nullptr)
      << "de_DE.UTF-8 is not generated (scripts/install-deps.sh --test)";
  {
    ScopedEnv language("LANGUAGE", std::nullopt);
    QList<QAction*> actions = ActionsFor({m_song});
    ASSERT_EQ(Texts(actions), QStringList{QStringLiteral("Als Klingelton ans Telefon senden")});
    EXPECT_EQ(actions.first()->toolTip(),
              QStringLiteral("Dieses Lied mit Zimbrel anpassen und als Klingelton an Ihr "
                             "Handy senden"));
    zb::testing::WriteInstDir(m_dir / "nowhere");
    BoxSeen seen = AnswerBox([&] { actions.first()->trigger(); }, QMessageBox::Ok);
    EXPECT_EQ(seen.title, QStringLiteral("Schwerwiegender Fehler"));
    EXPECT_TRUE(seen.text.startsWith(QStringLiteral("Beim Starten von Zimbrel ist ein Fehler")))
        << seen.text.toStdString();
  }
  EXPECT_EQ(textdomain(nullptr), domain);
  setlocale(LC_MESSAGES, messages.c_str());
  // Dolphin's settings list the plugin by its metadata's name, translated there.
  const QJsonObject about = m_metaData.rawData().value(QStringLiteral("KPlugin")).toObject();
  EXPECT_EQ(about.value(QStringLiteral("Name[de]")).toString(),
            QStringLiteral("Als Klingelton ans Telefon senden"));
}

TEST_F(DolphinPluginTest, MessageBoxServiceAnswersWithTheButtonsId) {
  QLibrary library(m_metaData.fileName());
  auto box = reinterpret_cast<int (*)(const char*, const char*, unsigned)>(
      library.resolve("zimbrel_host_message_box"));
  ASSERT_NE(box, nullptr);
  int answer = 0;
  BoxSeen seen =
      AnswerBox([&] { answer = box("Go on?", "Question", 0x1 | 0x10); }, QMessageBox::Cancel);
  EXPECT_EQ(answer, 2);
  EXPECT_EQ(seen.title, "Question");
  EXPECT_EQ(seen.text, "Go on?");
  EXPECT_EQ(seen.buttons.size(), 2);
  EXPECT_TRUE(seen.hasIcon);
  seen = AnswerBox([&] { answer = box("Done", "Note", 0); }, QMessageBox::Ok);
  EXPECT_EQ(answer, 1);
}

}  // namespace

// Qt's minimal platform (given on the command line, so programs the tests
// start do not inherit it); the build's plugins/ folder on Qt's plugin path,
// as QT_PLUGIN_PATH would put it. KIO builds its menus from every installed
// plugin, as Dolphin does, but two that talk to daemons on the session bus:
// KDE Connect's tries to start the KDE Connect daemon (never wanted in a
// test) and the activities' leaves a D-Bus call behind, which a leak-checking
// build reports as our leak.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  char configHome[] = "/tmp/zbtest-kdeconfig-XXXXXX";
  if (mkdtemp(configHome)) {
    std::ofstream(std::string(configHome) + "/kservicemenurc")
        << "[Show]\nkdeconnectfileitemaction=false\n"
           "kactivitymanagerd_fileitem_linking_plugin=false\n";
    setenv("XDG_CONFIG_HOME", configHome, 1);
  }
  std::vector<char*> args(argv, argv + argc);
  char platform[] = "-platform", minimal[] = "minimal";
  args.insert(args.begin() + 1, {platform, minimal});
  int qtArgc = static_cast<int>(args.size());
  QApplication app(qtArgc, args.data());
  QCoreApplication::addLibraryPath(QStringLiteral(DOLPHIN_PLUGIN_ROOT));
  const int status = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(configHome, ec);
  return status;
}
