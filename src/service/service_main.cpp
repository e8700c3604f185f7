#include "service/service.h"

void service_main(int, char**)
{
}
