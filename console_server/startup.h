// The start-up steps that only one platform needs: standard descriptors, help on the command
// line, the terminal's foreground, and following the client that started us. On Windows each is
// empty, so that CONPROXY.EXE keeps the command line and the waits of a Windows server exactly.
#pragma once

#include <string>

#include "rendezvous.h"

namespace conproxy {

// Installs the one signal table (POSIX: signal_owners_posix.cpp), before anything that a
// signal's ending must undo is made. False with the system's reason in LastSystemError().
bool InstallSignalOwners();

// Puts /dev/null on each of descriptors 0-2 that is closed, before anything else is opened:
// otherwise a named object would take the number and console text would be written into it.
void OpenClosedStandardDescriptors();

// --version or --help as the only argument: the answer on standard output, true, status 0.
bool AnswerInformationRequest(int argc, char** argv, int& status);
// Too few arguments: the usage line on standard error (POSIX only).
void ShowUsage();

// Why the terminal on standard input cannot be taken: a process that is not in its foreground
// process group would be stopped by its first mode change. Empty when it can.
std::string ConsoleRefusal();

// A server given the client library's lifeline (client_lifeline_posix.h), or whose parent
// holds the region open, was started by that client, and ends when it ends (dies, or runs
// another program in its place): a signal when the lifeline hangs up or the parent dies, and a
// look at both every kClientCheckMs of the request wait only where the lifeline's hang-up
// cannot be signalled. Returns the wait's slice (kWaitForever when no look is needed). A server
// started by hand has neither a lifeline nor a parent (the shell) that holds one of the objects;
// it is not affected.
int FollowStartingClient(const NamedRegion& region);
// Called once every object is open: from here on the client's end ends the server (at once when
// it is gone already), and the names it made that we served go with us.
void AttendToStartingClient();
bool StartingClientGone();
// POSIX: the signal that comes when the parent dies, and the signal table's hand-over of it:
// true when a followed client is what it is about (the server then ends by SIGHUP if that
// client is really gone), false before anybody is followed (then it ends the server as any
// real-time signal does).
int ParentDeathSignal();
bool TakeParentDeathSignal();
// Ends the process as a hang-up does (terminal restored, created names removed).
int EndForLostClient();

}  // namespace conproxy
