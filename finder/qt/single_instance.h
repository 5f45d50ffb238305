// One finder per user and display: the first start listens on a local
// socket; a later start tells it to come to the front and ends.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

class SingleInstance final : public QObject {
    Q_OBJECT

  public:
    explicit SingleInstance(QString key, QObject* parent = nullptr);

    // The key of this user on this display.
    static QString DefaultKey();

    // True when this process is the first: it listens from now on. False when
    // another one answered; it has been asked to come to the front.
    bool Claim();

  signals:
    void raiseRequested();

  private:
    QString key_;
    QLocalServer server_;
};
