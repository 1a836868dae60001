/* The public header compiles on its own as C99. */
#include <VXQIRApi.h>

int vxqir_header_check_c(void);
int vxqir_header_check_c(void)
{
    VXTQirStatusT status = { false, false, false, false, 0u, 0u };
    return (int)status.enabled + (int)NoError;
}
