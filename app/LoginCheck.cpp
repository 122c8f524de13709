#include "LoginCheck.h"

// The check itself comes with the connection work; until then there is nothing to undo.
int runLoginCheck() {
    return 0;
}
