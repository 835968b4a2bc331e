// SPDX-License-Identifier: MIT
#include "ui/FrmChannel.h"

#include "outgoing/CommandLines.h"
#include "ui/TorvalMain.h"

#include <QLineEdit>

namespace {
const PickerDesign kChannelPicker{
    "FrmChannel",
    "Channel",
    3885,
    "Channels.txt",
    "The file Channels.txt is missing.  It contains the channel list for this program.  "
    "Please create a text file with one channel per line in Notepad.",
    "File Channels.txt not found",
    "Channel List",
    "Channel Name :",
    "txtchannel",
    "Channel Name",
    Keys::HomeChannel,
    true,
};
} // namespace

// The picker is a window of its own, not a child of the main window, so it
// stays open and independent while the main window is used.
FrmChannel::FrmChannel(TorvalMain *mainWindow)
    : ListPicker(kChannelPicker, nullptr), mainWindow(mainWindow)
{
    setAttribute(Qt::WA_DeleteOnClose);
    Form_Load();
}

void FrmChannel::Command1_Click()
{
    const QString channel = entryText();
    SaveSetting(Keys::HomeChannel, channel);
    if (mainWindow)
        mainWindow->SendCommand(channelLine(channel));
    close();
}
