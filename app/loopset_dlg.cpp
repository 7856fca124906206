// Placeholder until the dialog's behaviour lands.
#include "loopset_dlg.h"
