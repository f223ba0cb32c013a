// One running program per user and data folder, through a local socket named after the
// program's instance name. A second start asks the first to bring its window forward and ends.
//
// Thread rules: interface thread only.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace gm::ui {

// The socket name for the current user and data folder.
QString InstanceName();

class CSingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit CSingleInstance(QString name, QObject* parent = nullptr);
  // True when this is the only instance (it now answers later starts); false when another
  // instance answered and was asked to raise its window.
  bool Claim();

 signals:
  void RaiseRequested();

 private:
  bool AskRunningInstance();
  void OnConnection();

  QString name_;
  QLocalServer server_;
};

}  // namespace gm::ui
