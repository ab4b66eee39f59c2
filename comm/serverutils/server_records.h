// The fixed, byte-packed records that the servers of the family exchange.
// Each record is described once, as a list of its fields in byte order; the
// list makes the packed struct here and the field table that drives the JSON
// writer and reader (record_codec.h). A field is F(kind, name, dims): the name
// is also its JSON key, dims the C array bounds of the kinds that need them.
//
// Kinds (the type of the member and how it travels as JSON):
//   Size         u32 record size: written from the field, set by the reader
//   SizeConst    u32 record size: written as the record's size, set by the reader
//   SizeHidden   u32 record size: not written, set by the reader
//   U32, U16     written as a signed 32-bit number; read from a number or a decimal text
//   U32Wide      u32 written as a 64-bit number, so never negative
//   Count        i32 entry count of the Parts field that follows it
//   I64, Double  64-bit number, real number
//   Text         char[N], a NUL-ended text of at most N-1 bytes
//   Guid         _GUID as GUID text; IPv4 u32 as dotted text
//   IPv4Array, MacArray  fixed arrays, every slot written as address text
//   ByteArray    u8[N], every byte written; the reader zeroes all before it fills
//   Version      the group "ver": "Main", "Sub", "Develop"
//   Parts        disk partitions, as many as the Count before them (at most the bound)
//   TextSlots    char[N][W], the non-empty slots written packed
//   GuidList     _GUID[N] up to the first zero GUID; absent when empty
//   IntList      u32[N] up to the first 0; absent when empty
//   IntListOrZero  u32[N] up to the first 0; [0] when empty
//   Reserved     bytes that are never written nor read
//   Length       u32 length of the Text that follows, set by the reader
#ifndef QG_COMM_SERVERUTILS_SERVER_RECORDS_H
#define QG_COMM_SERVERUTILS_SERVER_RECORDS_H

#include <stdint.h>

typedef uint32_t DWORD;

#pragma pack(push, 1)
// A GUID as the records hold it, unaligned.
struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

struct CS_VERSION_STRUCT {
    uint8_t Main;
    uint8_t Sub;
    uint16_t Develop;
};
#pragma pack(pop)

// Service, process and root-server records.

#define QG_SU_FIELDS_ServiceBaseInfo(F) \
    F(Size, cbSize, )                   \
    F(U32, SvrFlags, )                  \
    F(U32, Flags, )                     \
    F(Guid, machineGuid, )              \
    F(Guid, serviceGuid, )              \
    F(Guid, versionGuid, )              \
    F(Guid, appGuid, )                  \
    F(U32, RunningPolicy, )             \
    F(U32, WorkStatus, )                \
    F(U32, CreateDate, )                \
    F(U32, StartTime, )                 \
    F(U32, Priority, )                  \
    F(U32, TCPPort, )                   \
    F(U32, UDPPort, )                   \
    F(U32, InternetTCPPort, )           \
    F(U32, InternetUDPPort, )           \
    F(Text, ServiceName, [100])         \
    F(Text, ServiceDesc, [200])         \
    F(Text, ExtraConfig, [2048])

#define QG_SU_FIELDS_ServiceProcessInfo(F) \
    F(Size, cbSize, )                      \
    F(U32, AppFlags, )                     \
    F(U32, SvrFlags, )                     \
    F(Version, ver, )                      \
    F(U32, BuildTime, )                    \
    F(Guid, machineGuid, )                 \
    F(Guid, serviceGuid, )                 \
    F(Guid, versionGuid, )                 \
    F(U32, ProcessId, )                    \
    F(U32, StartTime, )                    \
    F(U32, ServerId, )                     \
    F(U32, SecureCode, )                   \
    F(IPv4Array, LocalIpAddrList, [5])     \
    F(U32, LocalTCPPort, )                 \
    F(U32, LocalUDPPort, )                 \
    F(Text, InternetURL, [100])            \
    F(IPv4Array, InternetIPAddrList, [5])  \
    F(U32, InternetTCPPort, )              \
    F(U32, InternetUDPPort, )              \
    F(IPv4, NatIpAddr, )

#define QG_SU_FIELDS_ServiceRunningStatus(F) \
    F(Size, cbSize, )                        \
    F(Guid, serviceGuid, )                   \
    F(U32, Flags, )                          \
    F(U32, LinkCount, )                      \
    F(U32, ActiveTaskCount, )                \
    F(I64, TotalTaskCount, )                 \
    F(U32, RAMSize, )                        \
    F(U32, RAMUsage, )                       \
    F(U32, CPUUsage, )                       \
    F(U32, NetInSpeed, )                     \
    F(U32, NetOutSpeed, )                    \
    F(U32, TotalNetSize, )                   \
    F(U32, StatisticScore, )                 \
    F(U32, TimeStamp, )

#define QG_SU_FIELDS_ServiceActiveLink(F) \
    F(SizeConst, cbSize, )                \
    F(Guid, serviceGuid, )                \
    F(Guid, sessionGuid, )                \
    F(Guid, rootServerGuid, )             \
    F(U32, Flags, )                       \
    F(U32, TimeStamp, )

#define QG_SU_FIELDS_RootServerAddr(F) \
    F(Size, cbSize, )                  \
    F(Guid, rootServerGuid, )          \
    F(Guid, clusterGuid, )             \
    F(U32, Flags, )                    \
    F(Text, Desc, [100])               \
    F(Text, Password, [30])            \
    F(Text, ServerAddr, [30])          \
    F(U16, TCPPort, )                  \
    F(U16, UDPPort, )                  \
    F(Text, InternetAddr, [30])        \
    F(U16, InternetTCPPort, )          \
    F(U16, InternetUDPPort, )          \
    F(U16, Priority, )

#define QG_SU_FIELDS_RootServerRunningStatus(F) \
    F(Size, cbSize, )                           \
    F(Guid, rootServerGuid, )                   \
    F(U32, Flags, )                             \
    F(U32, Status, )                            \
    F(U32, TimeStamp, )                         \
    F(U32, StartTime, )                         \
    F(U32, ServiceCount, )                      \
    F(U32, MachineCount, )

#define QG_SU_FIELDS_GlobalServerConfig(F) \
    F(Size, cbSize, )                      \
    F(Guid, configGuid, )                  \
    F(Guid, clusterGuid, )                 \
    F(U32, Flags, )                        \
    F(Guid, defaultVersionGuid, )          \
    F(Guid, defaultAppGuid, )              \
    F(U16, CollectionPeriod, )             \
    F(U16, LogPeriod, )                    \
    F(U32, CommBusTimeoutSeconds, )        \
    F(U32, CommBusSwitchSeconds, )         \
    F(U32, AppStatusUploadPeriod, )        \
    F(U32, AppStatisticUploadPeriod, )     \
    F(U32, AppStatisticSavePeriod, )       \
    F(U32, AppDataSyncPeriod, )            \
    F(U32, AppServiceQueryPeriod, )        \
    F(U32, AppServiceReleasePeriod, )      \
    F(U32, MTUSize, )                      \
    F(U32, DataReqExpireTime, )            \
    F(U32, WSTokenExpireTime, )            \
    F(U32, NetCheckTime, )                 \
    F(U32, NetTimeoutTime, )               \
    F(U32, ServiceSwitchTime, )            \
    F(U32, ServiceSnapShotPeriod, )        \
    F(U32, ServiceSnapShotMaxSize, )       \
    F(U32, DBBackupPeriod, )               \
    F(U32, LoginAccessFailCount, )         \
    F(U32, UserLockSeconds, )              \
    F(U32, SecurityLevel, )                \
    F(U32, RescueStartTime, )              \
    F(U16, ClientLinkTestTimeOutTime, )    \
    F(U16, ClientLBServerTimeOutTime, )    \
    F(U16, ClientMaxConnectPerTime, )      \
    F(U16, ClientMaxConnectPerServer, )    \
    F(U16, ClientConnectPolicy, )          \
    F(Text, RemoteCtrlPassword, [30])      \
    F(Text, VideoQualityParam, [2048])

// Machine records; a disk holds up to ten partitions.

#define QG_SU_FIELDS_MachineBaseInfo(F) \
    F(Size, cbSize, )                   \
    F(Guid, machineGuid, )              \
    F(Guid, clusterGuid, )              \
    F(U32, Flags, )                     \
    F(Text, OSVersion, [100])           \
    F(U32, CPUFreq, )                   \
    F(U32, CPUNum, )                    \
    F(U32, RAMSize, )                   \
    F(U32, HDSize, )                    \
    F(MacArray, MacAddr, [5])           \
    F(IPv4Array, LocalIpAddr, [5])      \
    F(IPv4Array, LimitedAddr, [5])      \
    F(IPv4Array, InternetIp, [5])       \
    F(Text, InternetURL, [100])         \
    F(U32, OSStartTime, )               \
    F(Text, DomainName, [100])          \
    F(Text, ComputerName, [100])        \
    F(Guid, carrierGuid, )              \
    F(Text, CityName, [100])            \
    F(U32, CreateDate, )                \
    F(U32, LeaseExpirDate, )            \
    F(U32, LeaseAlarmDate, )            \
    F(U32, MaxBandwidth, )              \
    F(Text, OSLoginUser, [100])         \
    F(Text, MachineName, [100])         \
    F(Text, MachineDesc, [200])         \
    F(U32, AreaFlags, )

#define QG_SU_FIELDS_MachineProcessInfo(F) \
    F(Size, cbSize, )                      \
    F(Guid, machineGuid, )                 \
    F(U32, Flags, )                        \
    F(U32, ProcessId, )                    \
    F(ByteArray, CPUUsage, [32])           \
    F(U32, RAMSize, )                      \
    F(Text, ProcessName, [100])            \
    F(Text, BelongUser, [100])             \
    F(U32, TimeStamp, )

#define QG_SU_FIELDS_MachineRunningStatus(F) \
    F(Size, cbSize, )                        \
    F(Guid, machineGuid, )                   \
    F(U32, Flags, )                          \
    F(U16, ProcessNum, )                     \
    F(U16, CorvaneProcessNum, )              \
    F(U16, RAMUsage, )                       \
    F(U16, HDUsage, )                        \
    F(ByteArray, CPUUsage, [32])             \
    F(U32, HDReadSpeed, )                    \
    F(U32, HDWriteSpeed, )                   \
    F(U32, NetInSpeed, )                     \
    F(U32, NetOutSpeed, )                    \
    F(U32, TotalNetSize, )                   \
    F(U32, TimeStamp, )

#define QG_SU_FIELDS_DiskPartInfo(F) \
    F(Size, cbSize, )                \
    F(Text, PartName, [100])         \
    F(I64, HDSize, )                 \
    F(I64, FreeSpace, )              \
    F(Text, MountPath, [100])

#define QG_SU_FIELDS_MachineDiskInfo(F) \
    F(Size, cbSize, )                   \
    F(Guid, diskGuid, )                 \
    F(Guid, machineGuid, )              \
    F(Text, Wwid, [100])                \
    F(U32, Flags, )                     \
    F(Text, DevName, [100])             \
    F(I64, HDSize, )                    \
    F(I64, FreeSpace, )                 \
    F(U32, Status, )                    \
    F(Text, MountPath, [100])           \
    F(Count, PartCount, )               \
    F(Parts, partInfo, [10])

// Link and transfer records: no "cbSize" member, the reader still sets the size.

#define QG_SU_FIELDS_BufferTransHdr(F) \
    F(SizeHidden, cbSize, )            \
    F(U32, Flags, )                    \
    F(Guid, bufferGuid, )              \
    F(U32, TotalSize, )                \
    F(U32, BlockSize, )                \
    F(U32, CheckSum, )                 \
    F(U32, wParam, )                   \
    F(U32, lParam, )                   \
    F(U32, kParam, )                   \
    F(Text, StrParam, [1024])

#define QG_SU_FIELDS_PreConnectParam(F) \
    F(SizeHidden, cbSize, )             \
    F(U32, Flags, )                     \
    F(U16, LinkTestTimeOutTime, )       \
    F(U16, LBServerTimeOutTime, )       \
    F(U16, MaxConnectPerTime, )         \
    F(U16, MaxConnectPerServer, )       \
    F(U16, Policy, )                    \
    F(Reserved, Reserved, [40])

#define QG_SU_FIELDS_ConnectLinkResult(F) \
    F(SizeHidden, cbSize, )               \
    F(U32, Flags, )                       \
    F(Guid, serviceGuid, )                \
    F(U32, ServerId, )                    \
    F(U32, AppFlags, )                    \
    F(U32, SvrFlags, )                    \
    F(U32, SecureCode, )                  \
    F(U32, IpAddr, )                      \
    F(U32, Port, )                        \
    F(U32, TCP, )                         \
    F(U32, AvgConnectTime, )              \
    F(Reserved, Reserved, [16])

#define QG_SU_FIELDS_CoreServerConfig(F) \
    F(SizeHidden, cbSize, )              \
    F(U32, Flags, )                      \
    F(Guid, appGuid, )                   \
    F(Reserved, Reserved, [16])          \
    F(U32, AppFlags, )                   \
    F(U32, MTUSize, )                    \
    F(U32, StreamTransMode, )            \
    F(Reserved, Reserved2, [8])          \
    F(U32, VideoReportInterval, )

// Application records.

#define QG_SU_FIELDS_AppBaseInfo(F) \
    F(Size, cbSize, )               \
    F(Guid, appGuid, )              \
    F(U32, AppFlags, )              \
    F(U32, AppExFlags, )            \
    F(Text, AppName, [100])         \
    F(U32, AppStatus, )             \
    F(U32, StatusChangeTime, )      \
    F(U32, CreateDate, )            \
    F(U32, EffectiveDate, )         \
    F(Reserved, Reserved, [12])     \
    F(U32, MaxUserCount, )          \
    F(U32, MaxVideoCount, )         \
    F(U32, SecurityLevel, )         \
    F(Text, PublicKey, [400])       \
    F(Text, AppAuthPass, [30])      \
    F(Text, CallBackURL, [1024])    \
    F(Text, CallBackMD5Pass, [100]) \
    F(Text, AccessKey, [100])       \
    F(U32, AppCBFlags, )            \
    F(Text, AppDesc, [500])         \
    F(Text, FileCdnURL, [1024])     \
    F(Text, LiveCdnURL, [1024])     \
    F(U32, URLActiveSeconds, )      \
    F(Guid, carrierGuid, )

#define QG_SU_FIELDS_AppConfigInfo(F)   \
    F(Size, cbSize, )                   \
    F(Guid, appGuid, )                  \
    F(U32, Flags, )                     \
    F(U32, P2PPolicy, )                 \
    F(U32, MaxBandwidth, )              \
    F(U32, MaxNetTrafficSize, )         \
    F(U32, MaxDiskSize, )               \
    F(U32, NetCheckTime, )              \
    F(U32, NetTimeoutTime, )            \
    F(U32, VideoCallTimeoutTime, )      \
    F(U32, VideoCallStartRoomId, )      \
    F(U32, StreamMinBufferTime, )       \
    F(U32, StreamMaxBufferTime, )       \
    F(U32, StreamTransMode, )           \
    F(U32, SigFailureTime, )            \
    F(U32, SigSaveTime, )               \
    F(U32, VideoWidth, )                \
    F(U32, VideoHeight, )               \
    F(U32, VideoFps, )                  \
    F(U32Wide, VideoGopSize, )          \
    F(U32, VideoQuality, )              \
    F(U32, VideoPreset, )               \
    F(U32, VideoBitrate, )              \
    F(U32, VideoCodec, )                \
    F(U32, H5VideoCodec, )              \
    F(U32, AudioSamplesPerSec, )        \
    F(U32, AudioChannels, )             \
    F(U32, AudioBitsPerSample, )        \
    F(U32, AudioBitrate, )              \
    F(U32, AudioCodec, )                \
    F(U32, AudioEncInterval, )          \
    F(U32, MaxUserPerRoom, )            \
    F(U32, MaxUserCount, )              \
    F(U32, MaxVideoCount, )             \
    F(Text, ImagePrefixPath, [100])     \
    F(Text, RecordPrefixPath, [100])    \
    F(Text, UpFilePrefixPath, [100])    \
    F(Text, ClientlogPrefixPath, [100]) \
    F(U32, AgentFinishStatus, )         \
    F(U32, RelatedAreaWaitTime, )       \
    F(I64, ASRPaySeconds, )             \
    F(I64, TTSPayCounts, )              \
    F(I64, AFRPayCounts, )              \
    F(I64, OCRPayCounts, )              \
    F(Text, AccessKeyId, [100])         \
    F(Text, AccessKeySecret, [100])

#define QG_SU_FIELDS_AppRunningStatus(F) \
    F(Size, cbSize, )                    \
    F(Guid, appGuid, )                   \
    F(U32, Flags, )                      \
    F(U32, TimeStamp, )                  \
    F(U32, LastActiveTime, )             \
    F(U32, TodayLoginCount, )            \
    F(U32, AgentCount, )                 \
    F(U32, ConnectCount, )               \
    F(U32, ConnectUserCount, )           \
    F(U32, RoomUserCount, )              \
    F(U32, VideoUserCount, )             \
    F(U32, RoomCount, )                  \
    F(U32, RecordCount, )                \
    F(U32, VideoMaxDelay, )              \
    F(U32, VideoAvgDelay, )              \
    F(Double, VideoMaxPackLossRate, )    \
    F(Double, VideoAvgPackLossRate, )    \
    F(U32, VideoMaxPauseNum, )           \
    F(Double, VideoAvgPauseNum, )        \
    F(U32, NetInSpeed, )                 \
    F(U32, NetOutSpeed, )

#define QG_SU_FIELDS_AppStatisticInfo(F) \
    F(Size, cbSize, )                    \
    F(Guid, appGuid, )                   \
    F(U32, Flags, )                      \
    F(U32, TimeStamp, )                  \
    F(U32, TotalConnectUsers, )          \
    F(U32, TotalVideoUsers, )            \
    F(U32, TotalRecordCounts, )          \
    F(U32, TotalAudioChatSeconds, )      \
    F(U32, TotalVideoChatSeconds, )      \
    F(U32, TotalNetTrafficSize, )        \
    F(U32, TotalDiskSize, )              \
    F(I64, ASRUsedSeconds, )             \
    F(I64, TTSUsedCounts, )              \
    F(I64, AFRUsedCounts, )              \
    F(I64, OCRUsedCounts, )

#define QG_SU_FIELDS_AppServerBindInfo(F) \
    F(Size, cbSize, )                     \
    F(Guid, appGuid, )                    \
    F(U32, Flags, )                       \
    F(U32, Count, )                       \
    F(TextSlots, BindInfo, [20][400])

#define QG_SU_FIELDS_ServerAppRelate(F) \
    F(Reserved, Reserved, [4])          \
    F(Guid, appGuid, )                  \
    F(Guid, serviceGuid, )              \
    F(U32, SvrFlags, )                  \
    F(U32, Weight, )                    \
    F(U32, Priority, )

// Configuration and user records.

#define QG_SU_FIELDS_CloudServerConfig(F) \
    F(Size, cbSize, )                     \
    F(Guid, cfgGuid, )                    \
    F(U32, CDNCompany, )                  \
    F(Text, CDNAccessKey, [400])          \
    F(Text, SourceSiteAddr, [1024])       \
    F(Text, CallBackURL, [200])           \
    F(Text, FileProcLibName, [50])        \
    F(Text, FileProcInitStr, [512])

#define QG_SU_FIELDS_OperatorUserConfig(F) \
    F(Size, cbSize, )                      \
    F(Guid, userGuid, )                    \
    F(Guid, roleGuid, )                    \
    F(Text, UserName, [30])                \
    F(Text, NickName, [30])                \
    F(Text, PhoneNumber, [30])             \
    F(Text, PassSig, [100])                \
    F(Text, DynamicKey, [30])              \
    F(U32, DKEffectiveTime, )              \
    F(U32, UserFlags, )                    \
    F(U32, UserLevel, )                    \
    F(U32, Lock, )                         \
    F(Text, PrivateKey, [1024])            \
    F(Text, PublicKey, [1024])             \
    F(U32, LockTime, )                     \
    F(U32, WrongTimes, )                   \
    F(U32, CreateDate, )                   \
    F(U32, ModifyDate, )

#define QG_SU_FIELDS_LiveUpdateVersion(F) \
    F(Size, cbSize, )                     \
    F(Guid, versionGuid, )                \
    F(GuidList, serviceGuidList, [10])    \
    F(U32, Flags, )                       \
    F(U32, SvrFlags, )                    \
    F(Version, ver, )                     \
    F(Text, Title, [100])                 \
    F(Text, Description, [500])           \
    F(U32, PublishTime, )                 \
    F(Text, PackagePathName, [256])       \
    F(Text, MD5, [40])

#define QG_SU_FIELDS_UserRoleInfo(F) \
    F(Size, cbSize, )                \
    F(Guid, roleGuid, )              \
    F(Text, RoleName, [100])         \
    F(Text, RoleDesc, [500])         \
    F(U32, RoleType, )               \
    F(U32, RoleLevel, )              \
    F(Reserved, Reserved, [8])       \
    F(U32, AccessFlags, )            \
    F(IntList, ModuleGroups, [1000])

// Cluster, carrier, business and room records.

#define QG_SU_FIELDS_ResourceMonitorTask(F) \
    F(Size, cbSize, )                       \
    F(Guid, taskGuid, )                     \
    F(U32, MonitorObjectType, )             \
    F(Guid, objectGuid, )                   \
    F(U32, CPUAlarmThreshold, )             \
    F(U32, RAMAlarmThreshold, )             \
    F(U32, HDAlarmThreshold, )              \
    F(U32, NetAlarmThreshold, )             \
    F(U32, StatusDurationMs, )              \
    F(U32, AlarmIntervalSecond, )

#define QG_SU_FIELDS_ClusterBaseInfo(F) \
    F(Size, cbSize, )                   \
    F(U32, Flags, )                     \
    F(Guid, clusterGuid, )              \
    F(Guid, carrierGuid, )              \
    F(Text, CityName, [100])            \
    F(Text, ClusterName, [100])         \
    F(Text, ClusterDesc, [200])

#define QG_SU_FIELDS_ClusterStatusInfo(F) \
    F(Size, cbSize, )                     \
    F(U32, Flags, )                       \
    F(Guid, clusterGuid, )                \
    F(U32, StartTime, )                   \
    F(U32, TimeStamp, )                   \
    F(U32, TotalCommBusNum, )             \
    F(U32, ActiveCommBusNum, )            \
    F(U32, TotalMachineNum, )             \
    F(U32, ActiveMachineNum, )            \
    F(U32, TotalServiceNum, )             \
    F(U32, ActiveServiceNum, )            \
    F(U32, TotalBandwidth, )              \
    F(U32, TotalNetSize, )                \
    F(U32, NetInSpeed, )                  \
    F(U32, NetOutSpeed, )                 \
    F(U32, TotalAuthAppNum, )             \
    F(U32, ActiveAppNum, )                \
    F(U32, TotalAuthUserNum, )            \
    F(U32, OnlineUserNum, )               \
    F(U32, TodayLoginNum, )               \
    F(U32, NativeUserNum, )               \
    F(U32, TotalAuthRecordNum, )          \
    F(U32, ActiveRecordNum, )             \
    F(U32, TotalAuthAgentNum, )           \
    F(U32, OnlineAgentNum, )              \
    F(U32, TotalConnectNum, )             \
    F(U32, OnlineConnectNum, )

#define QG_SU_FIELDS_CarrierCompanyInfo(F) \
    F(Size, cbSize, )                      \
    F(Guid, carrierGuid, )                 \
    F(U32, SecurityLevel, )                \
    F(Text, CarrierName, [100])            \
    F(Text, CarrierDesc, [200])

#define QG_SU_FIELDS_BusinessObject(F) \
    F(SizeConst, cbSize, )             \
    F(Guid, objectGuid, )              \
    F(Guid, appGuid, )                 \
    F(U32, ObjectType, )               \
    F(U32, ObjectId, )                 \
    F(Text, ObjectValue, [16384])

#define QG_SU_FIELDS_BusinessObjectValue(F) \
    F(SizeConst, cbSize, )                  \
    F(U32, ParentObjectId, )                \
    F(U32, UnitId, )                        \
    F(Text, Name, [200])                    \
    F(Text, Description, [260])             \
    F(U32, Flags, )                         \
    F(U32, Priority, )                      \
    F(U32, Attribute, )                     \
    F(IntListOrZero, SkillGroups, [100])    \
    F(IntListOrZero, QueueGroups, [400])    \
    F(U32, Param, )                         \
    F(Text, StrParam, [2048])

#define QG_SU_FIELDS_RoomServiceInfo(F) \
    F(SizeConst, cbSize, )              \
    F(Guid, roomGuid, )                 \
    F(Guid, appGuid, )                  \
    F(Guid, serviceGuid, )              \
    F(Guid, machineGuid, )              \
    F(U32, Flags, )                     \
    F(Text, roomName, [256])            \
    F(U32, RoomId, )                    \
    F(U32, IpAddr, )                    \
    F(U32, TcpPort, )                   \
    F(U32, UdpPort, )

// Query records: every one opens with its size and the query's GUID.

#define QG_SU_FIELDS_QueryConditionLog(F) \
    F(Size, cbSize, )                     \
    F(Guid, queryGuid, )                  \
    F(U32, LogType, )                     \
    F(Guid, ownerGuid, )                  \
    F(U32, UserId, )                      \
    F(U32, Level, )                       \
    F(U32, BeginTime, )                   \
    F(U32, EndTime, )                     \
    F(Text, MatchKey, [2048])

#define QG_SU_FIELDS_QueryConditionStatistici(F) \
    F(Size, cbSize, )                            \
    F(Guid, queryGuid, )                         \
    F(Guid, ownerGuid, )                         \
    F(U32, PieceCount, )                         \
    F(U32, BeginTime, )                          \
    F(U32, EndTime, )

#define QG_SU_FIELDS_QueryConditionRecord(F) \
    F(Size, cbSize, )                        \
    F(Guid, queryGuid, )                     \
    F(Guid, ownerGuid, )                     \
    F(U32, UserId, )                         \
    F(U32, BeginTime, )                      \
    F(U32, EndTime, )                        \
    F(Text, FileName, [100])                 \
    F(Text, MatchKey, [2048])

#define QG_SU_FIELDS_QueryContentLog(F) \
    F(Size, cbSize, )                   \
    F(Guid, queryGuid, )                \
    F(Guid, ownerGuid, )                \
    F(U32, SeqNo, )                     \
    F(U32, UserId, )                    \
    F(U32, Level, )                     \
    F(U32, TimeStamp, )                 \
    F(U32, MilliSeconds, )              \
    F(Text, Content, [16384])

#define QG_SU_FIELDS_QueryResult(F) \
    F(Size, cbSize, )               \
    F(Guid, queryGuid, )            \
    F(U32, ErrorCode, )             \
    F(U32, TotalCount, )

#define QG_SU_FIELDS_QueryContent(F) \
    F(Size, cbSize, )                \
    F(Guid, queryGuid, )             \
    F(U32, SeqNoBegin, )             \
    F(U32, SeqNoEnd, )

#define QG_SU_FIELDS_QueryFinish(F) \
    F(Size, cbSize, )               \
    F(Guid, queryGuid, )            \
    F(U32, ErrorCode, )

// Storage records.

#define QG_SU_FIELDS_StorageBaseInfo(F) \
    F(Size, cbSize, )                   \
    F(Guid, ownerGuid, )                \
    F(U32, Flags, )                     \
    F(Text, StoreName, [100])           \
    F(Text, StoreDesc, [200])           \
    F(U32, CollectionPeriod, )          \
    F(Text, ManageNodeAddrs, [200])     \
    F(U32, FileProcType, )              \
    F(Text, FileProcInitStr, [512])

#define QG_SU_FIELDS_StorageStatusInfo(F) \
    F(Size, cbSize, )                     \
    F(Guid, ownerGuid, )                  \
    F(U32, GroupCount, )                  \
    F(U32, ManageNodeCount, )             \
    F(U32, StorageNodeCount, )            \
    F(U32, ActiveManageNodeCount, )       \
    F(U32, ActiveStorageNodeCount, )      \
    F(I64, HDTotalSpace, )                \
    F(I64, TotalSpace, )                  \
    F(I64, FreeSpace, )                   \
    F(I64, TotalFileCount, )

#define QG_SU_FIELDS_StorageRunningStatus(F) \
    F(Size, cbSize, )                        \
    F(Guid, ownerGuid, )                     \
    F(U32, TimeStamp, )                      \
    F(U32, NetInSpeed, )                     \
    F(U32, NetOutSpeed, )                    \
    F(I64, UsedSpace, )                      \
    F(I64, FreeSpace, )                      \
    F(I64, TotalFileCount, )

#define QG_SU_FIELDS_StorageNodeBaseInfo(F) \
    F(Size, cbSize, )                       \
    F(Guid, nodeGuid, )                     \
    F(Guid, groupGuid, )                    \
    F(U32, Flags, )                         \
    F(Text, NodeId, [100])                  \
    F(Text, Version, [50])                  \
    F(Text, ExtData, [1024])

#define QG_SU_FIELDS_StorageNodeStatusInfo(F) \
    F(Size, cbSize, )                         \
    F(Guid, nodeGuid, )                       \
    F(U32, WorkStatus, )                      \
    F(U32, JoinTime, )                        \
    F(U32, UpdateTime, )                      \
    F(I64, HDTotalSpace, )                    \
    F(I64, TotalSpace, )                      \
    F(I64, FreeSpace, )                       \
    F(I64, FileCount, )                       \
    F(U32, TimeStamp, )                       \
    F(U32, NetInSpeed, )                      \
    F(U32, NetOutSpeed, )

#define QG_SU_FIELDS_StorageGroupBaseInfo(F) \
    F(Size, cbSize, )                        \
    F(Guid, groupGuid, )                     \
    F(Text, GroupName, [100])                \
    F(Text, GroupDesc, [1024])               \
    F(U32, Flags, )                          \
    F(U32, NativePort, )                     \
    F(U32, HTTPPort, )

#define QG_SU_FIELDS_StorageGroupStatusInfo(F) \
    F(Size, cbSize, )                          \
    F(Guid, groupGuid, )                       \
    F(U32, StorageNodeCount, )                 \
    F(U32, ActiveNodeCount, )                  \
    F(I64, HDTotalSpace, )                     \
    F(I64, TotalSpace, )                       \
    F(I64, FreeSpace, )                        \
    F(I64, FileCount, )

// Statistics, AI-resource and record-task records. The three statistics records share their
// first 316 bytes; they and the task have no size field, and their IPv4 addresses travel as plain numbers.

#define QG_SU_FIELDS_RecordStatisticInfo(F) \
    F(Text, AppType, [100])                 \
    F(Text, AppSource, [100])               \
    F(Text, AppSerialNum, [100])            \
    F(Guid, appGuid, )                      \
    F(Guid, taskGuid, )                     \
    F(Guid, recordServiceGuid, )            \
    F(Guid, roomServiceGuid, )              \
    F(U32, RoomId, )                        \
    F(U32, RecordTime, )                    \
    F(U32, UserId, )                        \
    F(Text, StrUserId, [100])               \
    F(U32, IpAddr, )                        \
    F(U32, UserFlags, )                     \
    F(U32, AgentUserId, )                   \
    F(Text, AgentStrUserId, [100])          \
    F(U32, AgentIpAddr, )                   \
    F(U32, AgentUserFlags, )                \
    F(U32, RecordFlags, )                   \
    F(U32, RecordFileType, )                \
    F(U32, RecordMode, )                    \
    F(U32, RecordDuration, )                \
    F(U32, RecordingTime, )                 \
    F(U32, FileLength, )                    \
    F(U32, ErrorCode, )                     \
    F(U32, AudioDuration, )                 \
    F(U32, VideoDuration, )                 \
    F(U32, AudioRecvTotalPack, )            \
    F(U32, VideoRecvTotalPack, )            \
    F(U32, AudioResendPack, )               \
    F(U32, VideoResendPack, )               \
    F(U32, AudioLossPack, )                 \
    F(U32, VideoLossPack, )                 \
    F(U32, AudioPauseNum, )                 \
    F(U32, VideoPauseNum, )

#define QG_SU_FIELDS_MediaStatisticInfo(F) \
    F(Text, AppType, [100])                \
    F(Text, AppSource, [100])              \
    F(Text, AppSerialNum, [100])           \
    F(Guid, appGuid, )                     \
    F(Guid, roomServiceGuid, )             \
    F(Guid, sessionGuid, )                 \
    F(U32, RoomId, )                       \
    F(U32, RecvUserId, )                   \
    F(U32, StatistNode, )                  \
    F(U32, StartTime, )                    \
    F(U32, Duration, )                     \
    F(U32, ErrorCode, )                    \
    F(U32, SendUserId, )                   \
    F(Text, SendUserStrId, [100])          \
    F(U32, SendUserIpAddr, )               \
    F(U32, SendUserFlags, )                \
    F(U32, AudioDuration, )                \
    F(U32, VideoDuration, )                \
    F(U32, AudioRecvTotalPack, )           \
    F(U32, VideoRecvTotalPack, )           \
    F(U32, AudioResendPack, )              \
    F(U32, VideoResendPack, )              \
    F(U32, AudioLossPack, )                \
    F(U32, VideoLossPack, )                \
    F(U32, AudioDelay10MsPack, )           \
    F(U32, AudioDelay50MsPack, )           \
    F(U32, AudioDelay100MsPack, )          \
    F(U32, AudioDelay200MsPack, )          \
    F(U32, AudioDelay300MsPack, )          \
    F(U32, AudioDelay500MsPack, )          \
    F(U32, AudioDelay1000MsPack, )         \
    F(U32, AudioDelay2000MsPack, )         \
    F(U32, AudioDelayLargePack, )          \
    F(U32, VideoDelay10MsPack, )           \
    F(U32, VideoDelay50MsPack, )           \
    F(U32, VideoDelay100MsPack, )          \
    F(U32, VideoDelay200MsPack, )          \
    F(U32, VideoDelay300MsPack, )          \
    F(U32, VideoDelay500MsPack, )          \
    F(U32, VideoDelay1000MsPack, )         \
    F(U32, VideoDelay2000MsPack, )         \
    F(U32, VideoDelayLargePack, )          \
    F(U32, AudioAvgDelay, )                \
    F(U32, VideoAvgDelay, )                \
    F(U32, AudioPauseNum, )                \
    F(U32, VideoPauseNum, )                \
    F(U32, AudioPauseDuration, )           \
    F(U32, VideoPauseDuration, )           \
    F(U32, AudioAvgBitrate, )              \
    F(U32, VideoAvgBitrate, )              \
    F(U32, AudioMaxBitrate, )              \
    F(U32, VideoMaxBitrate, )

#define QG_SU_FIELDS_ClientSessionStatisticInfo(F) \
    F(Text, AppType, [100])                        \
    F(Text, AppSource, [100])                      \
    F(Text, AppSerialNum, [100])                   \
    F(Guid, appGuid, )                             \
    F(Guid, sessionGuid, )                         \
    F(U32, ConnectTime, )                          \
    F(U32, Duration, )                             \
    F(U32, PreConnectMs, )                         \
    F(U32, ErrorCode, )                            \
    F(U32, UserId, )                               \
    F(Text, StrUserId, [100])                      \
    F(U32, UserFlags, )                            \
    F(U32, ConnectIpAddr, )                        \
    F(U32, AgentServerIpAddr, )                    \
    F(U32, InternetIpAddr, )                       \
    F(U32, LocalIpAddr, )                          \
    F(Text, MacAddr, [30])                         \
    F(U32, UdpActive, )                            \
    F(U32, UdpMaxDelay, )                          \
    F(U32, UdpAvgDelay, )                          \
    F(U32, UdpMaxOPLR, )                           \
    F(U32, UdpAvgOPLR, )                           \
    F(U32, UdpMaxCPLR, )                           \
    F(U32, UdpAvgCPLR, )                           \
    F(U32, AudioPauseNum, )                        \
    F(U32, VideoPauseNum, )                        \
    F(U32, AudioPauseDuration, )                   \
    F(U32, VideoPauseDuration, )                   \
    F(U32, OSType, )                               \
    F(Text, OSVersion, [100])                      \
    F(Text, DeviceChip, [100])                     \
    F(Text, SDKVersion, [10])                      \
    F(U32, SDKBuildTime, )                         \
    F(U32, ReConnectNum, )                         \
    F(U32, SessionHoldNum, )                       \
    F(U32, NetAvgDelay, )                          \
    F(U32, NetMaxDelay, )                          \
    F(U32, RecvMaxBitrate, )                       \
    F(U32, SendMaxBirate, )                        \
    F(U32, RecvAvgBitrate, )                       \
    F(U32, SendAvgBitrate, )                       \
    F(I64, RecvTotalBytes, )                       \
    F(I64, SendTotalBytes, )

#define QG_SU_FIELDS_AIResourceInfo(F) \
    F(Size, cbSize, )                  \
    F(Guid, resGuid, )                 \
    F(U32, Flags, )                    \
    F(U32, Company, )                  \
    F(Text, AppID, [100])              \
    F(Text, AccessID, [100])           \
    F(Text, AccessSecret, [1024])      \
    F(Text, InEndpoints, [260])        \
    F(Text, OutEndpoints, [260])       \
    F(U32, AIType, )                   \
    F(U32, EffectiveDate, )            \
    F(U32, QPS, )                      \
    F(I64, PaySeconds, )               \
    F(I64, UsedSeconds, )              \
    F(I64, PayCounts, )                \
    F(I64, UsedCounts, )               \
    F(Text, StrParam, [1024])

#define QG_SU_FIELDS_RecordTaskParam(F) \
    F(U32, Version, )                   \
    F(U32, Param, )                     \
    F(U32, Flags, )                     \
    F(U32, RoomId, )                    \
    F(U32, VideoBitrate, )              \
    F(U32, Width, )                     \
    F(U32, Height, )                    \
    F(U32, AudioBitrate, )              \
    F(U32, SamplePerSec, )              \
    F(U32, Channels, )                  \
    F(U32, FileType, )                  \
    F(U32, FileNameRule, )              \
    F(U32, OwnerUserId, )               \
    F(U32, ClipMode, )                  \
    F(U32, StreamIndex, )               \
    F(U32, Fps, )                       \
    F(U32, VideoCodecId, )              \
    F(Reserved, Reserved, [16])         \
    F(Length, UserStrLen, )             \
    F(Text, UserStr, [2048])
// Every record: R(name, structure, size, type number (0: none), size test, identifying GUID key, forms).
// The size test makes the type dispatch refuse a record whose first u32 is not its size;
// forms is Full (object and text writers) or TextOnly.
#define QG_SERVER_RECORDS(R)                                                                         \
    R(ServiceBaseInfo, CS_SERVICEBASEINFO_STRUCT, 2460, 10, 1, "serviceGuid", Full)                  \
    R(ServiceProcessInfo, CS_SERVICEPROCESSINFO_STRUCT, 244, 11, 1, "serviceGuid", Full)             \
    R(ServiceRunningStatus, CS_SERVICERUNNINGSTATUS_STRUCT, 72, 12, 1, "serviceGuid", Full)          \
    R(ServiceActiveLink, CS_SERVICEACTIVELINK_STRUCT, 60, 27, 1, "serviceGuid", Full)                \
    R(RootServerAddr, CS_ROOTSERVERADDR_STRUCT, 240, 17, 1, "rootServerGuid", Full)                  \
    R(RootServerRunningStatus, CS_ROOTSERVERRUNNINGSTATUS_STRUCT, 44, 25, 1, "rootServerGuid", Full) \
    R(GlobalServerConfig, CS_GLOBALSERVERCFG_STRUCT, 2248, 1, 1, "configGuid", Full)                 \
    R(MachineBaseInfo, CS_MACHINEBASEINFO_STRUCT, 1096, 13, 1, "machineGuid", Full)                  \
    R(MachineProcessInfo, CS_MACHINEPROCESSINFO_STRUCT, 268, 14, 1, "machineGuid", Full)             \
    R(MachineRunningStatus, CS_MACHINERUNNINGSTATUS_STRUCT, 88, 15, 1, "machineGuid", Full)          \
    R(MachineDiskInfo, CS_MACHINEDISKINFO_STRUCT, 2564, 42, 0, "diskGuid", Full)                     \
    R(BufferTransHdr, CS_BUFFERTRANSHDR_STRUCT, 1072, 0, 0, "", Full)                                \
    R(PreConnectParam, CS_PRECONNECTPARAM_STRUCT, 58, 0, 0, "", Full)                                \
    R(ConnectLinkResult, CS_CONNECTLINKRESULT_STRUCT, 72, 0, 0, "", Full)                            \
    R(CoreServerConfig, CS_CORESERVERCONFIG_STRUCT, 64, 0, 0, "", TextOnly)                          \
    R(AppBaseInfo, CS_APPBASEINFO_STRUCT, 4394, 9, 1, "appGuid", Full)                               \
    R(AppConfigInfo, CS_APPCONFIGINFO_STRUCT, 788, 21, 1, "appGuid", Full)                           \
    R(AppRunningStatus, CS_APPRUNNINGSTATUS_STRUCT, 108, 22, 1, "appGuid", Full)                     \
    R(AppStatisticInfo, CS_APPSTATISTICINFO_STRUCT, 88, 23, 1, "appGuid", Full)                      \
    R(AppServerBindInfo, CS_APPSERVERBINDINFO_STRUCT, 8028, 8, 1, "appGuid", Full)                   \
    R(ServerAppRelate, CLOUDSERVER_SERVERAPPRELATE_STRUCT, 48, 4, 0, "appGuid", Full)                \
    R(CloudServerConfig, CS_CLOUDSERVER_CONFIG_STRUCT, 2210, 5, 1, "cfgGuid", Full)                  \
    R(OperatorUserConfig, CLOUDSERVER_OPERATORUSERCONFIG_STRUCT, 2336, 6, 1, "userGuid", Full)       \
    R(LiveUpdateVersion, CLOUDSERVER_LIVEUPDATE_VERSION_STRUCT, 1092, 7, 1, "versionGuid", Full)     \
    R(UserRoleInfo, CS_USERROLEINFO_STRUCT, 4640, 31, 0, "roleGuid", Full)                           \
    R(ResourceMonitorTask, CS_RESOURCEMONITORTASK_STRUCT, 64, 18, 1, "taskGuid", Full)               \
    R(ClusterBaseInfo, CS_CLUSTERBASEINFO_STRUCT, 440, 19, 1, "clusterGuid", Full)                   \
    R(ClusterStatusInfo, CS_CLUSTERSTATUSINFO_STRUCT, 120, 24, 1, "clusterGuid", Full)               \
    R(CarrierCompanyInfo, CS_CARRIERCOMPANYINFO_STRUCT, 324, 20, 1, "carrierGuid", Full)             \
    R(BusinessObject, CS_BUSINESSOBJECT_STRUCT, 16428, 28, 0, "objectGuid", Full)                    \
    R(BusinessObjectValue, CS_BUSINESSOBJECT_VALUE_STRUCT, 4536, 0, 0, "", Full)                     \
    R(RoomServiceInfo, CS_ROOMSERVICEINFO_STRUCT, 344, 40, 0, "roomGuid", Full)                      \
    R(QueryConditionLog, CS_QUERY_CONDITION_LOG_STRUCT, 2104, 0, 0, "", Full)                        \
    R(QueryConditionStatistici, CS_QUERY_CONDITION_STATISTICI_STRUCT, 48, 0, 0, "", Full)            \
    R(QueryConditionRecord, CS_QUERY_CONDITION_RECORD, 2196, 0, 0, "", Full)                         \
    R(QueryContentLog, CS_QUERY_CONTENT_LOG_STRUCT, 16440, 0, 0, "", Full)                           \
    R(QueryResult, CS_QUERY_RESULT_STRUCT, 28, 0, 0, "", Full)                                       \
    R(QueryContent, CS_QUERY_CONTENT_STRUCT, 28, 0, 0, "", Full)                                     \
    R(QueryFinish, CS_QUERY_FINISH_STRUCT, 24, 0, 0, "", Full)                                       \
    R(StorageBaseInfo, CS_STORAGEBASEINFO_STRUCT, 1044, 32, 0, "ownerGuid", Full)                    \
    R(StorageStatusInfo, CS_STORAGESTATUSINFO_STRUCT, 72, 33, 0, "ownerGuid", Full)                  \
    R(StorageRunningStatus, CS_STORAGERUNNINGSTATUS_STRUCT, 56, 34, 0, "ownerGuid", Full)            \
    R(StorageNodeBaseInfo, CS_STORAGENODEBASEINFO_STRUCT, 1214, 35, 0, "nodeGuid", Full)             \
    R(StorageNodeStatusInfo, CS_STORAGENODESTATUSINFO_STRUCT, 76, 36, 0, "nodeGuid", Full)           \
    R(StorageGroupBaseInfo, CS_STORAGEGROUPBASEINFO_STRUCT, 1156, 37, 0, "groupGuid", Full)          \
    R(StorageGroupStatusInfo, CS_STORAGEGROUPSTATUSINFO_STRUCT, 60, 38, 0, "groupGuid", Full)        \
    R(RecordStatisticInfo, CS_RECORDSTATISTICINFO_STRUCT, 664, 0, 0, "", Full)                       \
    R(MediaStatisticInfo, CS_MEDIASTATISTICINFO_STRUCT, 628, 0, 0, "", Full)                         \
    R(ClientSessionStatisticInfo, CS_CLIENTSESSIONSTATISTICINFO_STRUCT, 812, 0, 0, "", Full)         \
    R(AIResourceInfo, CS_AIRESOURCEINFO_STRUCT, 2840, 43, 0, "resGuid", Full)                        \
    R(RecordTaskParam, CS_RECORDTASKPARAM_STRUCT, 2136, 0, 0, "", Full)

// Member types of the kinds.
#define QG_SU_TYPE_Size uint32_t
#define QG_SU_TYPE_SizeConst uint32_t
#define QG_SU_TYPE_SizeHidden uint32_t
#define QG_SU_TYPE_U32 uint32_t
#define QG_SU_TYPE_U32Wide uint32_t
#define QG_SU_TYPE_U16 uint16_t
#define QG_SU_TYPE_Count int32_t
#define QG_SU_TYPE_I64 int64_t
#define QG_SU_TYPE_Double double
#define QG_SU_TYPE_Text char
#define QG_SU_TYPE_Guid _GUID
#define QG_SU_TYPE_IPv4 uint32_t
#define QG_SU_TYPE_IPv4Array uint32_t
#define QG_SU_TYPE_MacArray uint64_t
#define QG_SU_TYPE_ByteArray uint8_t
#define QG_SU_TYPE_Version CS_VERSION_STRUCT
#define QG_SU_TYPE_Parts CS_DISKPARTINFO_STRUCT
#define QG_SU_TYPE_TextSlots char
#define QG_SU_TYPE_GuidList _GUID
#define QG_SU_TYPE_IntList uint32_t
#define QG_SU_TYPE_IntListOrZero uint32_t
#define QG_SU_TYPE_Reserved uint8_t
#define QG_SU_TYPE_Length uint32_t

#define QG_SU_MEMBER(kind, name, dims) QG_SU_TYPE_##kind name dims;
#define QG_SU_STRUCT(Name, Struct, size, type, test, guidKey, forms) \
    struct Struct {                                                  \
        QG_SU_FIELDS_##Name(QG_SU_MEMBER)                            \
    };                                                               \
    static_assert(sizeof(Struct) == size, "layout of " #Struct);

#pragma pack(push, 1)
struct CS_DISKPARTINFO_STRUCT {
    QG_SU_FIELDS_DiskPartInfo(QG_SU_MEMBER)
};
static_assert(sizeof(CS_DISKPARTINFO_STRUCT) == 220, "layout of CS_DISKPARTINFO_STRUCT");

QG_SERVER_RECORDS(QG_SU_STRUCT)
#pragma pack(pop)
#undef QG_SU_STRUCT
#undef QG_SU_MEMBER

typedef CS_SERVICEPROCESSINFO_STRUCT* LPCS_SERVICEPROCESSINFO;

#endif
