#define FFI_SCOPE "KESTRUM"
#define FFI_LIB "libtbxapp.so.0"
/* The C declarations of libtbxapp that the PHP package calls through FFI. A test keeps them in
 * step with include/tbxapp.h. PHP reads the two lines above only at the very start of the file
 * (ffi.preload, FFI::load): the scope that FFI::scope finds in every request, and the library,
 * here found by the dynamic linker. */

int TBX_GetErrorStringFromResult(long result, long* length, char* buffer);
long TBX_GetLastErrorMessage(long* length, char* buffer);
long TBX_GetLastErrorCode(void);
long TBX_LastRequestWasSent(void);
void* CreateConfigurationSetup(void);
void DestroyConfigurationSetup(void* setup);
long ConfigurationSetup_SetConfiguration(void* setup, const char* configPath);
long ConfigurationSetup_Reconfigure(void* setup, const char* serverUrl, const char* userName, const char* password);
long ConfigurationSetup_SetOption(void* setup, const char* name, const char* value);
long ConfigurationSetup_GetAttribute(void* setup, const char* file, const char* key, long* length, char* buffer);
long ConfigurationSetup_SetAttribute(void* setup, const char* file, const char* key, const char* value);
void* CreateMessageFactory(void);
void DestroyMessageFactory(void* factory);
long MessageFactory_Open(void* factory, const char* configPath);
long MessageFactory_CreatePayInit(void* factory, void** message);
long MessageFactory_VerifyPayConfirm(void* factory, const char* data, const char* signature, void** message);
long MessageFactory_VerifyPayConfirmForOrder(void* factory, const char* data, const char* signature, const char* token, const char* amount, const char* currency, void** confirmation);
long MessageFactory_CreatePayComplete(void* factory, const char* id, const char* token, void** message);
long MessageFactory_CreateRequest(void* factory, const char* messageType, void** message);
void* CreateMessageObject(void);
void DestroyMessageObject(void* message);
long MessageObject_Open(void* message, const char* configPath);
long MessageObject_SetAttribute(void* message, const char* name, const char* value);
long MessageObject_GetAttribute(void* message, const char* name, long* length, char* buffer);
long MessageObject_GetAttributeNames(void* message, long* size, char* buffer);
long MessageObject_GetURL(void* message, long* length, char* buffer);
long MessageObject_Capture(void* message);
long MessageObject_Execute(void* message, void** response);
long MessageObject_FromString(void* message, const char* text);
long MessageObject_ToString(void* message, long* length, char* buffer);
