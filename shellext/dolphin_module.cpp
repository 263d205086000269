// zimbrel_dolphin.so: a KDE file-item action plugin (Dolphin and every other
// KIO file view) that shows the entries of the context-menu handlers
// registered in our registry. KIO finds it by scanning
// qt5/plugins/kf5/kfileitemaction/ (its JSON metadata is compiled in), asks
// it for actions whenever it builds a file's menu, and shows them at the top
// level of the menu.
//
// It also offers the handlers Qt's message box (see host_message_box.h):
// Dolphin has no GTK for them to use.
#include <KAbstractFileItemActionPlugin>
#include <KFileItem>
#include <KFileItemListProperties>
#include <KPluginFactory>
#include <QAction>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "shellext/context_menu_host.h"
#include "shellext/host_message_box.h"

namespace {

using zb::host::HostMenuItem;

QIcon ItemIcon(const HostMenuItem& item) {
  if (item.iconWidth <= 0 || item.iconHeight <= 0 ||
      item.iconPixels.size() != static_cast<size_t>(item.iconWidth) * item.iconHeight)
    return {};
  QImage image(item.iconWidth, item.iconHeight, QImage::Format_RGB32);
  for (int y = 0; y < item.iconHeight; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < item.iconWidth; ++x)
      row[x] = 0xFF000000u | item.iconPixels[static_cast<size_t>(y) * item.iconWidth + x];
  }
  return QIcon(QPixmap::fromImage(image));
}

// The selection as the host core takes it; empty when any item has no local
// path. A name that was not valid UTF-8 reaches us with U+FFFD in place of
// its bad bytes (KIO keeps no raw name), so it would name another file: such
// a selection gets nothing, as it does in the other file managers.
std::vector<zb::host::SelectedItem> Selection(const KFileItemList& items) {
  std::vector<zb::host::SelectedItem> selection;
  for (const KFileItem& item : items) {
    QString path = item.localPath();
    if (path.isEmpty() || path.contains(QChar::ReplacementCharacter)) return {};
    QByteArray bytes = path.toUtf8();
    selection.push_back({std::string(bytes.constData(), bytes.size()), item.isDir()});
  }
  return selection;
}

}  // namespace

class ZimbrelFileItemActions : public KAbstractFileItemActionPlugin {
  Q_OBJECT

 public:
  ZimbrelFileItemActions(QObject* parent, const QVariantList&)
      : KAbstractFileItemActionPlugin(parent) {}

  // Called on KIO's (the GUI) thread each time a menu is built. The actions
  // are children of this plugin; those of earlier calls that no menu holds
  // any more are deleted here (KIO keeps one plugin per window, so they
  // would otherwise pile up with their handlers).
  QList<QAction*> actions(const KFileItemListProperties& props, QWidget*) override {
    DropUnusedActions();
    QList<QAction*> result;
    std::vector<zb::host::SelectedItem> selection = Selection(props.items());
    if (selection.empty()) return result;
    for (HostMenuItem& hostItem : zb::host::CollectMenuItems(selection)) {
      // Qt reads '&' as a mnemonic mark: a literal one is doubled.
      QString label = QString::fromStdString(hostItem.label).replace('&', QStringLiteral("&&"));
      auto* action = new QAction(ItemIcon(hostItem), label, this);
      QString tip = QString::fromStdString(hostItem.tip);
      action->setToolTip(tip);
      action->setStatusTip(tip);
      // The lambda owns the item (and through it the handler) as long as
      // the action lives.
      auto item = std::make_shared<HostMenuItem>(std::move(hostItem));
      connect(action, &QAction::triggered, this, [item] { zb::host::InvokeMenuItem(*item); });
      m_handedOut.push_back(action);
      result.append(action);
    }
    return result;
  }

 private:
  void DropUnusedActions() {
    std::vector<QPointer<QAction>> kept;
    for (const QPointer<QAction>& action : m_handedOut) {
      if (!action) continue;
      if (action->associatedWidgets().isEmpty())
        delete action.data();
      else
        kept.push_back(action);
    }
    m_handedOut = std::move(kept);
  }

  std::vector<QPointer<QAction>> m_handedOut;
};

K_PLUGIN_CLASS_WITH_JSON(ZimbrelFileItemActions, "zimbrel_dolphin.json")

// The handlers' message box on Qt (see host_message_box.h): no owner
// window, plain text, the OK or OK and Cancel buttons.
extern "C" __attribute__((visibility("default"))) int zimbrel_host_message_box(const char* text,
                                                                               const char* caption,
                                                                               unsigned type) {
  constexpr unsigned kButtonsMask = 0xF, kOkCancel = 0x1, kIconMask = 0xF0, kIconError = 0x10;
  constexpr int kIdOk = 1, kIdCancel = 2;
  bool withCancel = (type & kButtonsMask) == kOkCancel;
  QMessageBox box((type & kIconMask) == kIconError ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QString::fromUtf8(caption ? caption : ""), QString::fromUtf8(text ? text : ""),
                  withCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::Ok);
  return box.exec() == QMessageBox::Cancel ? kIdCancel : kIdOk;
}

static_assert(std::is_same_v<decltype(&zimbrel_host_message_box), zb::host::HostMessageBoxFn>);
static_assert(std::string_view(zb::host::kHostMessageBoxSymbol) == "zimbrel_host_message_box");

#include "dolphin_module.moc"
