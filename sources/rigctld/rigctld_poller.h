#pragma once
// The rigctld poller: keeps one TCP connection to Hamlib's rigctld, learns the radio's name once
// per connection, and publishes frequency and mode at the configured interval.
#include <atomic>

#include <string>

#include "platform/net.h"
#include "sources/rigctld/rigctld_reply.h"

extern std::atomic<bool>& rigctldRunning;
extern SocketSlot& rigctldSocket;

void StartRigctldPoller();
void StopRigctldPoller();
// Closes the connection; the poller reconnects and reads its settings afresh (Save, SIGHUP).
void DropRigctldConnection();

// One command line and its reply, within HRD's reply limit. Anything but exactly the reply (a byte
// waiting before the command goes out, a byte after the reply, no whole reply in time) gives
// Incomplete or Malformed: from then on a reply could answer the wrong command.
RigctldReply RigctldExchange(SocketHandle socket, const std::string& command, int valueLines);
