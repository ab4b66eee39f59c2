/* Result codes of the stand-in media library beyond 0 (success) and -1.
 * What the library does with them is written down in its README.md. */
#ifndef STANDIN_RTC_CODES_H
#define STANDIN_RTC_CODES_H

#define RTC_OK 0
#define RTC_ERR_FAILED (-1)   /* Initialize/UnInitialize, frame input, unsupported calls */
#define RTC_ERR_NOTINIT 2     /* a peer call before CVRTC_Initialize or after CVRTC_UnInitialize */
#define RTC_ERR_NOHANDLE 3    /* no peer with that handle */
#define RTC_ERR_BADTEXT 4     /* a null text, not a JSON object, or a member of the wrong type */
#define RTC_ERR_BADSDP 5      /* an offer or answer without "sdp", or one with no m= line */
#define RTC_ERR_NULLPARAM 6   /* a null output pointer */

#endif
