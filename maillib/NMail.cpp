#include "maillib/NMail.h"

#include "maillib/Pop3Connection.h"

int NMailInitializeWinSock()
{
    Pop3Connection::allowConnections();
    return 0;
}

int NMailEndWinSock()
{
    Pop3Connection::cancelAll();
    return 0;
}
