#pragma once

// Drops every dial-up connection of the machine: each active NetworkManager connection of a dial-up
// kind (mobile broadband gsm or cdma, pppoe, adsl, bluetooth) is deactivated over the system bus, in
// the order NetworkManager lists its active connections. Nothing waits for a line to drop. No
// NetworkManager, no system bus or more than 256 active connections: nothing is done. Nothing is
// reported either way; every bus call is bounded so the caller's thread is held a few seconds at most.
void hangUpDialUpConnections();
