// SPDX-License-Identifier: MIT
#include "ui/frmServers.h"

#include "reception/DisplayText.h"
#include "session/ServerEntry.h"

namespace {
const PickerDesign kServerPicker{
    "frmServers",
    "Servers",
    3855,
    "Servers.txt",
    "The file Servers.txt is missing.  It contains the server list for this program.  "
    "Please create a text file with one IP per line in Notepad.",
    "File Server.txt not found",
    "Server List",
    "Server Name :",
    "txtserver",
    "Server Name",
    Keys::Server,
    false,
};
} // namespace

frmServers::frmServers(QWidget *parent)
    : ListPicker(kServerPicker, parent)
{
    Form_Load();
}

void frmServers::Form_Load()
{
    ListPicker::Form_Load();
    // The stored server, as the entry box now shows it, is what Connect dials
    // if the picker is quit.
    m_serverAddress = entryText();
}

void frmServers::Command1_Click()
{
    m_serverAddress = entryText();
    close();
}

QString frmServers::shownEntry(const QString &line) const
{
    // Secure entries are marked; a click still copies the line as written.
    return displayName(serverEntryLabel(parseServerEntry(line)));
}
