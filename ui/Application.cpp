#include "ui/Application.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QSpacerItem>
#include <QWidget>
#include <QWindow>

void SetApplicationTitle() { QCoreApplication::setApplicationName(QStringLiteral("KVT BeamDock")); }

namespace {
QString SocketName(const std::string& lockFile) { return QString::fromStdString(lockFile + ".raise"); }
}  // namespace

void ListenForSecondStarts(const std::string& lockFile, QWidget* window) {
  auto* server = new QLocalServer(window);
  server->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(SocketName(lockFile));
  if (!server->listen(SocketName(lockFile))) return;  // the second start then only shows its box
  QObject::connect(server, &QLocalServer::newConnection, window, [server, window] {
    while (QLocalSocket* knock = server->nextPendingConnection()) {
      knock->disconnectFromServer();
      knock->deleteLater();
    }
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
    if (QWindow* handle = window->windowHandle()) handle->requestActivate();
  });
}

bool KnockOnRunningCopy(const std::string& lockFile) {
  QLocalSocket socket;
  socket.connectToServer(SocketName(lockFile));
  if (!socket.waitForConnected(1000)) return false;
  socket.write("raise\n");
  socket.waitForBytesWritten(1000);
  socket.disconnectFromServer();
  return true;
}

void FitBoxToTitle(QMessageBox& box) {
  // The frame's buttons and icon take about as much as 18 average characters of the title font.
  const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
  const int wanted = title.horizontalAdvance(box.windowTitle()) + 18 * title.averageCharWidth();
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!grid || box.sizeHint().width() >= wanted) return;
  grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                grid->columnCount());
}

TWaitCursor::TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

TWaitCursor::~TWaitCursor() { QApplication::restoreOverrideCursor(); }
