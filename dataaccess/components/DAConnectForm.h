// The connect dialog's form on a terminal, for the programs' /debug modes: plain prompts with
// the dialog's captions, one answer a line.
#pragma once

#include <istream>
#include <ostream>

#include "dataaccess/components/DAConnectDialog.h"

namespace dac {

// Asks for the user name, the password and the server (an empty answer keeps the value shown in
// brackets; a number picks a server from the numbered list), then for Connect or Cancel (an
// empty answer connects). The answers go into the dialog's connection only when the user
// connects. The end of the input cancels. With hideInput the password is read without echo
// when the input is the process's terminal.
bool ExecuteTerminalConnectForm(TCustomConnectDialog& dialog, std::istream& in, std::ostream& out,
                                bool hideInput = false);

// Makes the terminal form on standard input and output the library's connect form.
void UseTerminalConnectForm();

}  // namespace dac
