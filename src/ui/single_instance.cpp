#include "ui/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalSocket>

#include "doc/app_paths.h"
#include "ui/ui_text.h"

namespace gm::ui {
namespace {

constexpr int kWaitMs = 2000;
const QByteArray kRaise = "raise\n";
const QByteArray kDone = "ok\n";

}  // namespace

QString InstanceName() {
  QByteArray folder = QStr(DataFolder()).toUtf8();
  QString hash = QString::fromLatin1(
      QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(12));
  return QStringLiteral("ROBOTQUENTRIXSYSMUTEXCN-%1-%2").arg(getuid()).arg(hash);
}

CSingleInstance::CSingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
}

bool CSingleInstance::AskRunningInstance() {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(kWaitMs)) return false;
  socket.write(kRaise);
  socket.waitForBytesWritten(kWaitMs);
  // The answer tells that a live program read the request (not a stale socket).
  while (socket.bytesAvailable() < kDone.size() && socket.waitForReadyRead(kWaitMs)) {
  }
  return socket.readAll().startsWith(kDone);
}

bool CSingleInstance::Claim() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (AskRunningInstance()) return false;
    // Nobody answered: a socket left by a program that ended abnormally is removed.
    QLocalServer::removeServer(name_);
    if (server_.listen(name_)) return true;
  }
  // No socket of our own could be made: run all the same rather than not at all.
  return !AskRunningInstance();
}

void CSingleInstance::OnConnection() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) return;
      if (socket->readLine() == kRaise) {
        socket->write(kDone);
        socket->flush();
        emit RaiseRequested();
      }
    });
  }
}

}  // namespace gm::ui
