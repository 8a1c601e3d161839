// One running copy per user: the first copy listens on a local endpoint named from the main
// window's class and caption; a later copy asks it to show itself and leaves.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace qx {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `key` names the endpoint; the user's id is added, so each user has a copy of their own.
    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this is the first copy, which then listens for later ones. False when another
    // copy runs; that copy has been asked to show itself.
    bool claim();

    static QString endpointName(const QString& key);

signals:
    // A later copy asked this one to show itself.
    void activationRequested();

private:
    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace qx
