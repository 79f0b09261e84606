#pragma once

#include "maillib/Pop3ReplyParser.h"
#include "maillib/TlsTrust.h"

#include <QList>
#include <QSslCertificate>

// Tunables of a POP3 session. The defaults are what the program uses.
//
// Time-outs: every wait is bounded, so a server can hold a check only so long.
// connectTimeoutMs bounds the name look-up with the TCP connection and, for pop3s, the TLS
// handshake (10 s: a reachable server answers in well under a second even on a slow link);
// replyTimeoutMs bounds each reply from the moment it is awaited, including the greeting and
// the STLS handshake (20 s: long enough for a busy server, short enough that a silent one
// frees the program soon). A session as a whole ends after sessionTimeoutMs plus
// perMessageTimeoutMs for each message in the mailbox (60 s + 20 ms a message: ten times what a
// healthy server needs even at 100 ms round trip), so a server that answers just inside the
// reply time-out cannot hold the program for long.
struct Pop3Options
{
    int connectTimeoutMs = 10000;
    int replyTimeoutMs = 20000;
    int sessionTimeoutMs = 60000;
    int perMessageTimeoutMs = 20;
    // Send requests ahead of time when the server advertises PIPELINING.
    bool allowPipelining = true;
    // The server offered PIPELINING over TLS when it was last reached. Over TLS, CAPA and the login
    // then go out at once, without waiting for the greeting or the capabilities, and a server once
    // reached with STLS is sent STLS without a CAPA first: two round trips fewer. The stream is
    // still proved in step before anything is committed; the caller forgets this after a failed
    // check, so a server that changed costs one.
    bool pipeliningOffered = false;
    // Header requests kept in flight ahead of the one awaited: with 1,000 of them a link of
    // 100 ms round trip still carries 10,000 headers a second. Their replies wait in the
    // network buffers, not here; only replies asked for out of order are kept.
    int pipelineWindow = 1000;
    // Certificates trusted in addition to the system's store (a test's self-signed server).
    // Verification itself is never switched off.
    QList<QSslCertificate> extraTrustedCertificates;
    // Servers once reached with TLS, consents to plain text and pinned certificates.
    TlsTrust trust;
    qsizetype maxLineLength = Pop3ReplyParser::DefaultMaxLineLength;
    qsizetype maxHeaderLength = Pop3ReplyParser::DefaultMaxBodyLength;
    // LIST and UIDL name every message: 16 MB holds them for a mailbox of some 300,000.
    qsizetype maxListingLength = 16 * 1024 * 1024;
};
