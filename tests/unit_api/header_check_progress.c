/* The progress header compiles on its own as C99. */
#include <VXQIRApiProgress.h>

int vxqir_header_check_progress_c(void);
int vxqir_header_check_progress_c(void)
{
    VXTQirChannelProgressT progress = { 0u, 0u, 0u, 0u, 0u, -1, 0u, { false, false, false, false, 0u, 0u }, 0u };
    return (int)progress.msSinceStatus + (int)(VXQIR_GetChannelProgress(0, &progress) == NoError);
}
