// SPDX-License-Identifier: MIT
// Certificates made at test time in a temporary folder: the gateway's own
// (scripts/make-cert.sh, as run.sh makes it) and others by the openssl
// command line (another key, other names, dates in the past).
#pragma once

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace TestCerts {

// The repository's scripts folder, found from this file's own path.
inline QString scriptsDir()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral("../../scripts"));
}

// Runs the openssl tool in dir; its standard output goes to *output.
inline bool openssl(const QString &dir, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning() << "openssl" << arguments << process.readAllStandardError();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

// Makes gateway-cert.pem and gateway-key.pem in dir with scripts/make-cert.sh.
inline bool makeCertificate(const QString &dir, QString *certFile, QString *keyFile, int days = 30)
{
    QProcess process;
    process.start(QStringLiteral("bash"), {scriptsDir() + QStringLiteral("/make-cert.sh"), dir, QString::number(days)});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    *certFile = dir + QStringLiteral("/gateway-cert.pem");
    *keyFile = dir + QStringLiteral("/gateway-key.pem");
    return QFileInfo::exists(*certFile) && QFileInfo::exists(*keyFile);
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// dir/NAME.pem, self-signed with its own new key dir/NAME.key, made out to
// subjectAltName ("DNS:localhost,IP:127.0.0.1"). With from and until
// (YYYYMMDDHHMMSSZ) it is valid only between them, an expired one included.
inline bool makeSelfSigned(const QString &dir, const QString &name, const QString &subjectAltName,
                           const QString &from = {}, const QString &until = {})
{
    const QString key = name + QStringLiteral(".key"), cert = name + QStringLiteral(".pem");
    const QStringList names{"-subj", "/CN=vesk-test", "-addext", "subjectAltName=" + subjectAltName};
    if (from.isEmpty())
        return openssl(dir, QStringList{"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                        "-nodes", "-keyout", key, "-out", cert, "-days", "30"}
                                    + names);
    // openssl req cannot date a certificate in the past; openssl ca can.
    const QString serial = name + QStringLiteral(".serial"), index = name + QStringLiteral(".index");
    return TestCerts::writeFile(QDir(dir).filePath(name + QStringLiteral(".cnf")),
                     "[ca]\ndefault_ca = d\n[d]\ndir = .\ndatabase = " + index.toUtf8() + "\nnew_certs_dir = .\n"
                     "serial = " + serial.toUtf8() + "\ndefault_md = sha256\npolicy = p\ncopy_extensions = copy\n"
                     "[p]\ncommonName = supplied\n")
        && TestCerts::writeFile(QDir(dir).filePath(index), {}) && TestCerts::writeFile(QDir(dir).filePath(serial), "01\n")
        && openssl(dir, QStringList{"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                                    "-keyout", key, "-out", name + ".csr"}
                                + names)
        && openssl(dir, {"ca", "-batch", "-notext", "-config", name + ".cnf", "-selfsign", "-keyfile", key, "-in",
                         name + ".csr", "-out", cert, "-startdate", from, "-enddate", until});
}

} // namespace TestCerts
