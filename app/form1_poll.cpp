// The Start button: the poll responder.
#include "form1.h"

void TForm1::Button2Click() {}
