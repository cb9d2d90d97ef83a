// The main window of devsetup: the tree of the two device classes with their
// devices, the details panel with the logical names, and the buttons that start
// every action. It works on one OPOSCls object for the whole run.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "platform/registry_store.h"
#include "setup/devsetup_cli.h"
#include "setup/gui/port_range_dialog.h"
#include "setup/gui/prompts.h"
#include "setup/gui/settings_dialog.h"
#include "setup/main_panel.h"
#include "setup/opos_cls.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace opos::setup::gui {

class MainWindow : public QWidget {
 public:
  struct Options {
    reg::Store* store = nullptr;
    std::string modelDir;      // where the model definition files lie
    std::string logoToolPath;  // the NV logo tool
    TestRunner tester;         // empty: devsetup without the Control Objects
  };
  MainWindow(Options options, Prompts& prompts, QWidget* parent = nullptr);
  ~MainWindow() override;

  OPOSCls& Device() { return cls_; }
  // The open settings dialogs.
  std::vector<SettingsDialog*> SettingsDialogs() const;
  PortRangeDialog* PortRange() const { return portRange_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildTree();
  QTreeWidgetItem* AddDeviceNode(QTreeWidgetItem* classNode, const std::string& key);
  QTreeWidgetItem* ClassNode(const std::string& deviceClass) const;
  void SelectNode(QTreeWidgetItem* item);
  void Refresh();
  void ShowPanel(const PanelState& panel);
  void ResetPanel();
  void Warn(const std::string& text);

  void AddDevice();
  void RemoveDevice();
  void OpenSettings();
  void RenameKey();
  void AddLdn();
  void RemoveLdn();
  void RenameLdn();
  void OpenPortRange();
  void Exit();
  void StartLogoTool();
  void DeviceSaved(const OPOSCls& saved);
  // After AddLDN or RenameLDN: refresh on success, else tell why.
  void LdnResult(bool ok);
  // The message box that refuses a logical name for the reason why.
  Message LdnRefusalMessage(const std::string& why) const;

  Options options_;
  Prompts& prompts_;
  OPOSCls cls_;
  PanelState panel_;
  std::string selectedKey_;  // key of the node selected last
  QTreeWidgetItem* shownItem_ = nullptr;
  QTreeWidget* tree_;
  std::array<QLineEdit*, 5> data_{};
  QComboBox* ldn_;
  std::array<QPushButton*, 10> buttons_{};
  std::vector<QPointer<SettingsDialog>> settings_;
  QPointer<PortRangeDialog> portRange_;
};

}  // namespace opos::setup::gui
