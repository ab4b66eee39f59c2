/*
 * Result codes of the stand-in SDK. The real SDK has codes of its own;
 * quillgate only passes them on, so these are the stand-in's choice.
 */
#ifndef STANDIN_SDK_CODES_H
#define STANDIN_SDK_CODES_H

/* ---- result codes --------------------------------------------------- */
#define CV_ERR_SUCCESS 0
#define CV_ERR_FAILED 1       /* generic failure                      */
#define CV_ERR_NOTINIT 2      /* CVAPI_InitSDK has not run            */
#define CV_ERR_NOTCONNECT 3   /* no link to the server                */
#define CV_ERR_NOTLOGIN 4     /* not logged in                        */
#define CV_ERR_NOTINROOM 5    /* not in a room                        */
#define CV_ERR_INVALIDPARAM 6 /* null or malformed argument           */
#define CV_ERR_NOUSER 7       /* no such user                         */
#define CV_ERR_NOOBJECT 8     /* no such object or object value       */
#define CV_ERR_NOOPTION 9     /* option never set                     */
#define CV_ERR_NOINFO 10      /* user state / info name not known     */
#define CV_ERR_SCENARIO 11    /* scenario file unreadable or has bad lines */

#endif
