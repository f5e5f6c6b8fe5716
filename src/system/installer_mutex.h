// Whether Windows Installer is busy with another installation.
#pragma once

// True while another installation executes: the installer then holds its
// execution mutex. Only a mutex that does not exist means free; any other
// answer (access denied, for one) means busy. The mutex is opened and closed
// again at once, never waited on or owned: that would block the installer.
bool IsInstallerBusy();
