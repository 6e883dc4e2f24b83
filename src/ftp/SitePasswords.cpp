#include "SitePasswords.h"

#include "common/TextCodec.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <optional>

namespace quill {
namespace {

const PasswordStoreError kNoKeyring{"no keyring is available"};

PasswordStoreError Describe(QKeychain::Error error, const QString& detail) {
    std::string text;
    switch (error) {
        case QKeychain::EntryNotFound:
            return {"the keyring holds no password for this site"};
        case QKeychain::AccessDenied:
        case QKeychain::AccessDeniedByUser:
            return {"the keyring is locked or refused access", true};
        case QKeychain::NoBackendAvailable:
            text = "no keyring is available";
            break;
        default:
            text = "the keyring could not be reached";
            break;
    }
    return {detail.isEmpty() ? text : text + " (" + VisibleControls(detail).toStdString() + ")"};
}

// Runs a keyring job in a local event loop that holds back user input, so no
// window handler runs in between, until it ends or patience runs out. A job
// still running then deletes itself whenever it ends.
std::expected<QByteArray, PasswordStoreError> Run(QKeychain::Job* job,
                                                  std::chrono::milliseconds patience,
                                                  bool missingIsFine = false) {
    if (!QCoreApplication::instance()) {
        delete job;
        return std::unexpected(PasswordStoreError{"the keyring needs a running application"});
    }
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    QEventLoop loop;
    std::optional<std::expected<QByteArray, PasswordStoreError>> result;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
        if (done->error() == QKeychain::EntryNotFound && missingIsFine) {
            result = QByteArray();
        } else if (done->error() != QKeychain::NoError) {
            result = std::unexpected(Describe(done->error(), done->errorString()));
        } else if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done)) {
            result = read->binaryData();
        } else {
            result = QByteArray();
        }
        loop.quit();
    });
    QTimer::singleShot(patience, &loop, &QEventLoop::quit);
    job->start();
    if (!result) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!result) {
        job->setAutoDelete(true);
        return std::unexpected(PasswordStoreError{"the keyring did not answer within " +
                                                      std::to_string(patience.count() / 1000) +
                                                      " seconds",
                                                  true});
    }
    delete job;
    return *result;
}

std::expected<void, PasswordStoreError> Done(
    const std::expected<QByteArray, PasswordStoreError>& result) {
    if (!result) {
        return std::unexpected(result.error());
    }
    return {};
}

}  // namespace

std::expected<void, PasswordStoreError> KeyringPasswordStore::Store(const std::string& site,
                                                                    const std::string& password) {
    auto* job = new QKeychain::WritePasswordJob(m_service);
    job->setKey(DisplayText(site));
    // Text where it is UTF-8, so keyring viewers show it; other bytes exactly.
    const QByteArray bytes = ByteArrayOf(password);
    if (const QString text = QString::fromUtf8(bytes); text.toUtf8() == bytes) {
        job->setTextData(text);
    } else {
        job->setBinaryData(bytes);
    }
    return Done(Run(job, m_patience));
}

std::expected<std::string, PasswordStoreError> KeyringPasswordStore::Load(const std::string& site) {
    auto* job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(DisplayText(site));
    auto read = Run(job, m_patience);
    if (!read) {
        return std::unexpected(read.error());
    }
    return read->toStdString();
}

std::expected<void, PasswordStoreError> KeyringPasswordStore::Remove(const std::string& site) {
    auto* job = new QKeychain::DeletePasswordJob(m_service);
    job->setKey(DisplayText(site));
    return Done(Run(job, m_patience, true));
}

std::string SiteOfProfileFile(std::string_view fileName) {
    return std::string(fileName.substr(0, fileName.size() >= 4 ? fileName.size() - 4 : 0));
}

std::expected<SavedSite, std::string> SaveSite(const SiteProfiles& profiles, PasswordStore* keyring,
                                               SiteProfile profile) {
    // A profile that cannot be written leaves the keyring as it was.
    if (auto refused = profiles.Refusal(profile)) {
        return std::unexpected(std::move(*refused));
    }
    const std::string& site = profile.sname;
    const bool wasInKeyring = profiles.Read(site + ".ftp").passInKeyring;
    SavedSite saved;
    profile.passInKeyring = false;
    if (!profile.pass.empty()) {
        const auto stored =
            keyring ? keyring->Store(site, profile.pass) : std::unexpected(kNoKeyring);
        if (stored) {
            profile.pass.clear();
            profile.passInKeyring = true;
        } else if (stored.error().refused) {
            // A keyring that is there but said no is the user's to answer;
            // the password does not go to a file instead.
            return std::unexpected("The profile was not saved: " + stored.error().text +
                                   ". Unlock the keyring, or save without the password.");
        } else {
            saved.note = "The password is kept in the profile file, which only you can read: " +
                         stored.error().text + ".";
        }
    }
    auto written = profiles.Save(profile);
    if (!written) {
        return std::unexpected(written.error());
    }
    saved.path = *written;
    if (!profile.passInKeyring && keyring) {
        if (auto removed = keyring->Remove(site); !removed && wasInKeyring) {
            saved.note += (saved.note.empty() ? "" : "\n") +
                          std::string("The old password could not be removed from the keyring: ") +
                          removed.error().text + ".";
        }
    }
    return saved;
}

LoadedSite ReadSite(const SiteProfiles& profiles, PasswordStore* keyring,
                    std::string_view fileName) {
    LoadedSite loaded{profiles.Read(fileName), {}};
    if (!loaded.profile.passInKeyring) {
        return loaded;
    }
    const std::string site = SiteOfProfileFile(fileName);
    const auto password = keyring ? keyring->Load(site) : std::unexpected(kNoKeyring);
    if (password) {
        loaded.profile.pass = *password;
    } else {
        loaded.problem =
            "The password of the site \"" + ShownText(site).toStdString() +
            "\" is kept in the keyring, but could not be read: " + password.error().text + ".";
    }
    return loaded;
}

std::expected<std::string, std::string> DeleteSite(const SiteProfiles& profiles,
                                                   PasswordStore* keyring,
                                                   std::string_view fileName) {
    const bool wasInKeyring = profiles.Read(fileName).passInKeyring;
    if (!profiles.Delete(fileName)) {
        return std::unexpected("The profile \"" + ShownText(fileName).toStdString() +
                               "\" could not be deleted.");
    }
    const auto removed =
        keyring ? keyring->Remove(SiteOfProfileFile(fileName)) : std::unexpected(kNoKeyring);
    if (removed || !wasInKeyring) {
        return std::string();
    }
    return "The profile was deleted, but its password could not be removed from the keyring: " +
           removed.error().text + ".";
}

}  // namespace quill
