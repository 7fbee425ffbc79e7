// Code-to-name tables of the adapter's service interface and their two-key lookup.
#include "qelcodes.h"

#include <cstring>
#include <iterator>
#include <string>

#include "qeldebug.h"

namespace {

// Source line the lookup-failure trace line carries in its prefix, kept stable across edits so
// that traces of the whole utility family can be searched for it.
constexpr int kLineLookupFailed = 1202;

// Negative codes as the 32-bit two's-complement pattern the adapter reports.
constexpr std::uint32_t Code(std::int32_t value) { return static_cast<std::uint32_t>(value); }

constexpr CodeNameEntry kClosingRow = {kClosingKey1, kClosingKey2, "endoftable"};

// Shared result of every lookup, overwritten by each call.
char szErrorString[kErrorStringSize];

}  // namespace

// clang-format off
constexpr CodeNameEntry ValueToString[] = {
    {1, 1, "AS_Warning"},
    {0, 1, "AS_Success"},
    {Code(-1), 1, "AE_UnknownFunction"},
    {Code(-2), 1, "AE_Busy"},
    {Code(-3), 1, "AE_Failure"},
    {Code(-4), 1, "AE_HardwareError"},
    {Code(-6), 1, "AE_ParityNotValid"},
    {Code(-7), 1, "AE_MediaReadOnly"},
    {Code(-8), 1, "AE_IllegalRequest"},
    {Code(-9), 1, "AE_TableFull"},
    {Code(-10), 1, "AE_InvalidRID"},
    {Code(-11), 1, "AE_InvalidSignature"},
    {Code(-12), 1, "AE_AccessDenied"},
    {Code(-13), 1, "AE_NotReady"},
    {Code(-14), 1, "AE_ReservationConflict"},
    {Code(-15), 1, "AE_WriteProtect"},
    {Code(-16), 1, "AE_NotInTable"},
    {Code(-17), 1, "AE_Offline"},
    {Code(-18), 1, "AE_MediumError"},
    {Code(-20), 1, "AE_SCSIError"},
    {Code(-21), 1, "AE_LogOpen"},
    {Code(-22), 1, "AE_FencedOut"},
    {Code(-23), 1, "AE_FormatDegraded"},
    {Code(-24), 1, "AE_FormatInProgress"},
    {Code(-25), 1, "AE_ClusterNumberUnknown"},
    {Code(-26), 1, "AE_SSAString"},
    {Code(-27), 1, "AE_AvoidReadWrite"},
    {Code(-28), 1, "AE_AvoidWrite"},
    {Code(-29), 1, "AE_NotLocal"},
    {Code(-30), 1, "AE_NotYetImplemented"},
    {Code(-31), 1, "AE_RetryWhenMemory"},
    {Code(-32), 1, "AE_NotFound"},
    {Code(-33), 1, "AE_FlushCompFailure"},
    {Code(-34), 1, "AE_InServiceMode"},
    {Code(-35), 1, "AE_OfflineTimeout"},
    {Code(-36), 1, "AE_BadSequenceNumber"},
    {Code(-37), 1, "AE_BadTransferLRC"},
    {Code(-38), 1, "AE_BadBlockLRC"},
    {Code(-39), 1, "AE_TcbAborted"},
    {Code(-40), 1, "AE_NotSupported"},
    {Code(-41), 1, "AE_NonISAL"},
    {Code(-42), 1, "AE_OtherAdapterServiceMode"},
    {Code(-43), 1, "AE_NonIdem"},
    {Code(-44), 1, "AE_RequireLogical"},
    {Code(-45), 1, "AE_RequirePhysical"},
    {Code(-46), 1, "AE_TimeoutExpired"},
    {Code(-47), 1, "AE_BrokenMapping"},
    {Code(-48), 1, "AE_BadExtent"},
    {Code(-49), 1, "AE_TooManyExtent"},
    {Code(-90), 1, "AE_IllReqNotSingleBlock"},
    {Code(-89), 1, "AE_IllReqNotSupported"},
    {Code(-88), 1, "AE_IllReqBadEVPD"},
    {Code(-87), 1, "AE_IllReqBadPageCode"},
    {Code(-86), 1, "AE_IllReqShortParmDDR"},
    {Code(-85), 1, "AE_IllReqBadImmed"},
    {Code(-84), 1, "AE_IllReqBadType"},
    {Code(-83), 1, "AE_IllReqBadFlag"},
    {Code(-82), 1, "AE_IllReqBadLength"},
    {Code(-80), 1, "AE_IllReqBlockSize"},
    {Code(-79), 1, "AE_IllReqIntRes"},
    {Code(-70), 1, "AE_IllReqBadFlags"},
    {Code(-69), 1, "AE_IllReqResvdNonZero"},
    {Code(-68), 1, "AE_IllReqDdrType"},
    {Code(-67), 1, "AE_IllReqInvalidRid"},
    {Code(-66), 1, "AE_IllReqRidInvalidForMode"},
    {Code(-65), 1, "AE_IllReqNotOpen"},
    {Code(-64), 1, "AE_IllReqFenceDataInvalid"},
    {Code(-63), 1, "AE_IllReqFenceMaskWrong"},
    {Code(-62), 1, "AE_IllReqBadDownload"},
    {Code(-60), 1, "AE_IllReqAlreadyConnected"},
    {Code(-59), 1, "AE_IllReqNobodyConnected"},
    {Code(-58), 1, "AE_IllReqNotYouConnected"},
    {Code(-200), 1, "AE_NvramDefective"},
    {Code(-199), 1, "AE_NotApplicableForResourceType"},
    {Code(-198), 1, "AE_CantDeleteInUseResource"},
    {Code(-399), 1, "AE_TimedOut"},
    {Code(-398), 1, "AE_Aborted"},
    {Code(-397), 1, "AE_BadIndex"},
    {Code(-500), 1, "AE_BadSerialNumber"},
    {Code(-499), 1, "AE_BadOldSerialNumber"},
    {Code(-498), 1, "AE_BadNewSerialNumber"},
    {Code(-497), 1, "AE_BadComponentCount"},
    {Code(-496), 1, "AE_BadComponentSerialNumber"},
    {Code(-495), 1, "AE_BadResrcSerialNumber"},
    {Code(-494), 1, "AE_BadOldComponentSerialNumber"},
    {Code(-493), 1, "AE_BadNewComponentSerialNumber"},
    {Code(-492), 1, "AE_BadParameterValues"},
    {Code(-491), 1, "AE_ArrayIsBroken"},
    {Code(-490), 1, "AE_SetOMTFailed"},
    {Code(-489), 1, "AE_BadExchangeCandidate"},
    {Code(-488), 1, "AE_FiltersOnly"},
    {Code(-487), 1, "AE_NotFilters"},
    {Code(-486), 1, "AE_NvramError"},
    {Code(-485), 1, "AE_InvalidCandidateRequest"},
    {Code(-484), 1, "AE_InvalidCreateRequest"},
    {Code(-483), 1, "AE_ReadOnlyParameterValue"},
    {Code(-482), 1, "AE_ArrayIsBrokenOrDegraded"},
    {Code(-481), 1, "AE_PhysWrapped"},
    {Code(-480), 1, "AE_PhysCertifying"},
    {Code(-479), 1, "AE_PhysFormatting"},
    {Code(-478), 1, "AE_NotOpen"},
    {Code(-477), 1, "AE_BadComponent"},
    {Code(-476), 1, "AE_ConfirmRequired"},
    {Code(-475), 1, "AE_InvalidMetaRequest"},
    {Code(-474), 1, "AE_PhysIniting"},
    {Code(-473), 1, "AE_DataLossWillOccur"},
    {Code(-472), 1, "AE_NoHotSpareAvailable"},
    {Code(-471), 1, "AE_CoupleOffline"},
    {Code(-470), 1, "AE_CoupleCopying"},
    {Code(-469), 1, "AE_CoupleDegraded"},
    {Code(-468), 1, "AE_CLNHeld"},
    {Code(-467), 1, "AE_InvalidCLN"},
    {Code(-466), 1, "AE_CLNNotHeld"},
    {Code(-600), 1, "AE_ReachedWrongPeer"},
    {Code(-599), 1, "AE_NotReachedPeer"},
    {Code(-598), 1, "AE_NoPeerLabel"},
    {Code(-700), 1, "AE_MissingCluster"},
    {Code(-699), 1, "AE_RoutingError"},
    {Code(-698), 1, "AE_RemoteTimeout"},
    {Code(-697), 1, "AE_TransferFail"},
    {Code(-696), 1, "AE_TargetNotAvailable"},
    {Code(-695), 1, "AE_TargetReceiverFull"},
    {Code(-694), 1, "AE_TargetTransferTooLarge"},
    {Code(-693), 1, "AE_InConfig"},
    {Code(-692), 1, "AE_QNTimedOut"},
    {Code(-691), 1, "AE_NonExistentALPA"},
    {Code(-690), 1, "AE_LoopDisabled"},
    {Code(-689), 1, "AE_LoopDown"},
    {Code(-688), 1, "AE_LoopInitialising"},
    {Code(-687), 1, "AE_PortFailure"},
    {Code(-686), 1, "AE_NonExistentPort"},
    {Code(-900), 1, "AE_IllReqNoOpenSegment"},
    {Code(-899), 1, "AE_IllReqBadStreamHandle"},
    {Code(-898), 1, "AE_IllReqBadSegmentID"},
    {Code(-897), 1, "AE_IllReqTooManyStreams"},
    {Code(-896), 1, "AE_IllReqBadOffset"},
    {Code(-895), 1, "AE_IllReqTooManyTracks"},
    {Code(-894), 1, "AE_IllReqBadCTrackCount"},
    {Code(-893), 1, "AE_IllReqBadUCount"},
    {Code(-892), 1, "AE_IllReqTransmitTooLong"},
    {Code(-891), 1, "AE_IllReqBadTrackLength"},
    {Code(-890), 1, "AE_IllReqOpenSegment"},
    {Code(-889), 1, "AE_IllReqTooManySegments"},
    {Code(-888), 1, "AE_IllReqWrongDataType"},
    {Code(-887), 1, "AE_IllReqNoTrack"},
    {Code(-1000), 1, "AE_InvalidSegDir"},
    {Code(-999), 1, "AE_StreamFull"},
    {Code(-998), 1, "AE_InvalidTrackHeader"},
    {Code(-997), 1, "AE_BadData"},
    {Code(-996), 1, "AE_DecompressionError"},
    {Code(-995), 1, "AE_NoVTID"},
    {Code(-994), 1, "AE_OutOfSegmentMemory"},
    {Code(-993), 1, "AE_BadTrackVersion"},
    {Code(-991), 1, "AE_BadHostBlockLRC"},
    {Code(-990), 1, "AE_BadDiskBlockLRC"},
    {Code(-989), 1, "AE_NullSegDir"},
    {Code(-980), 1, "AE_DprOther"},
    {Code(-2000), 1, "AE_QELGS_UnknownNode"},
    {Code(-1999), 1, "AE_QELGS_BadParmSize"},
    {Code(-1998), 1, "AE_QELGS_HardwareError"},
    {Code(-1997), 1, "AE_QELGS_DbgBitsSetError"},
    {Code(-1950), 1, "AE_QELGS_InitialiseResetFailed"},
    {Code(-1949), 1, "AE_QELGS_TerminateResetCompFailed"},
    {Code(-1948), 1, "AE_QELGS_EEHRecoveryFailed"},
    {Code(-1947), 1, "AE_QELGS_ResetCompFailed"},
    {Code(-1946), 1, "AE_QELGS_Reset64Failed"},
    {Code(-1945), 1, "AE_QELGS_ResetInitFailed"},
    {Code(-1944), 1, "AE_QELGS_DownloadResetCompFailed"},
    {Code(-1943), 1, "AE_QELGS_Download64Failed"},
    {Code(-1942), 1, "AE_QELGS_DownloadDnldFailed"},
    {Code(-1941), 1, "AE_QELGS_TerminateResetFailed"},
    {Code(-1940), 1, "AE_QELGS_DumpFailed"},
    {Code(-1939), 1, "AE_QELGS_TCBStartInitFailed"},
    {Code(-1938), 1, "AE_QELGS_TCBStartDnldFailed"},
    {Code(-1937), 1, "AE_QELGS_IRQReadFailed"},
    {Code(-1936), 1, "AE_QELGS_GWDFailed"},
    {Code(-1935), 1, "AE_QELGS_FailedInStartup"},
    {Code(-1934), 1, "AE_QELGS_QuiesceTimeout"},
    {Code(-1933), 1, "AE_QELGS_ShowstopTimeout"},
    {Code(-2100), 1, "AE_QELES_BadParmType"},
    {Code(-2099), 1, "AE_QELES_BadParmSize"},
    {Code(-2098), 1, "AE_QELES_AlreadyRegistered"},
    {Code(-2097), 1, "AE_QELES_NotRegistered"},
    {Code(-2096), 1, "AE_QELES_IllegalTemplate"},
    {Code(-32768), 1, "AE_Incomplete"},
    {Code(-61), 1, "AE_IllegalReqPartitionOpen"},
    {7, 2, "DS_InterruptNotInUse"},
    {6, 2, "DS_ServiceNotInUse"},
    {5, 2, "DS_DirectiveNotInUse"},
    {4, 2, "DS_GatewayNotInUse"},
    {3, 2, "DS_Clear"},
    {2, 2, "DS_Set"},
    {1, 2, "DS_Warning"},
    {0, 2, "DS_Success"},
    {255, 2, "DP_Pending"},
    {254, 2, "DP_Aborting"},
    {253, 2, "DE_Failure"},
    {252, 2, "DE_Aborted"},
    {251, 2, "DE_InvalidDirective"},
    {250, 2, "DE_DirectiveNotPending"},
    {249, 2, "DE_DirectiveBeingAborted"},
    {248, 2, "DE_InvalidNode"},
    {247, 2, "DE_GatewayInUse"},
    {246, 2, "DE_TcbNotActive"},
    {245, 2, "DE_InvalidService"},
    {244, 2, "DE_BadParameter"},
    {243, 2, "DE_DataOverrun"},
    {242, 2, "DE_DataUnderrun"},
    {241, 2, "DE_InvalidDescriptorType"},
    {240, 2, "DE_TimedDirectivesNotSupported"},
    {239, 2, "DE_DirectiveInUse"},
    {238, 2, "DE_InvalidServiceNumber"},
    {237, 2, "DE_ServiceInUse"},
    {236, 2, "DE_InterruptInUse"},
    {235, 2, "DE_GatewayFlagsZero"},
    {234, 2, "DE_NoFreeServiceNumbers"},
    {233, 2, "DE_TimeToLiveExausted"},
    {232, 2, "DE_NoTimedDirectives"},
    {231, 2, "DE_StackTooSmall"},
    {230, 2, "DE_HoldUntilAsync"},
    {229, 2, "DE_FatalHardwareError"},
    {228, 2, "DE_ConsumerTableFull"},
    {227, 2, "DE_NotInConsumerTable"},
    {226, 2, "DE_TransactionAbandoned"},
    {225, 2, "DE_SuccessUnknown"},
    {224, 2, "DE_TooBusy"},
    {223, 2, "DE_BadSequenceNumber"},
    {222, 2, "DE_BadTransferLRC"},
    {221, 2, "DE_BadBlockLRC"},
    {220, 2, "DE_ErrorOnCompression"},
    {219, 2, "DE_ErrorOnDecompression"},
    {218, 2, "DE_OutOfOrder"},
    {217, 2, "DE_GatewayDisconnected"},
    {192, 2, "DE_InjectMalloc"},
    {191, 2, "DE_InjectMallocDOS"},
    {190, 2, "DE_InjectMapDdrMalloc"},
    {189, 2, "DE_InjectMapDdrMallocDOS"},
    {188, 2, "DE_InjectMapDdrScatGat"},
    {187, 2, "DE_InjectMapDdrBadType"},
    {186, 2, "DE_InjectIoctl"},
    {1, 3, "FC_IACLVersion"},
    {2, 3, "FC_ResrcCount"},
    {3, 3, "FC_ResrcList"},
    {4, 3, "FC_ResrcView"},
    {5, 3, "FC_CandidateCount"},
    {6, 3, "FC_CandidateList"},
    {7, 3, "FC_ResrcCreate"},
    {8, 3, "FC_ResrcDelete"},
    {9, 3, "FC_ResrcRename"},
    {10, 3, "FC_ComponentView"},
    {11, 3, "FC_ComponentExchange"},
    {12, 3, "FC_QueryMetaResrcParams"},
    {13, 3, "FC_ModifyResrcParams"},
    {14, 3, "FC_FlashIndicator"},
    {15, 3, "FC_VPDInquiry"},
    {16, 3, "FC_HardwareInquiry"},
    {17, 3, "FC_CompExchCandCount"},
    {18, 3, "FC_CompExchCandList"},
    {19, 3, "FC_AdapterVPD"},
    {20, 3, "FC_SyncHealth"},
    {21, 3, "FC_Wrap"},
    {22, 3, "FC_Unwrap"},
    {23, 3, "FC_UnwrapAll"},
    {24, 3, "FC_Test"},
    {25, 3, "FC_Format"},
    {26, 3, "FC_Certify"},
    {27, 3, "FC_Read"},
    {28, 3, "FC_Write"},
    {29, 3, "FC_AdapterSN"},
    {30, 3, "FC_CacheFormat"},
    {31, 3, "FC_InitSurf"},
    {32, 3, "FC_HotspareCfgStatus"},
    {33, 3, "FC_HotsparePoolList"},
    {34, 3, "FC_HotsparePoolView"},
    {35, 3, "FC_ReadArrayHotspareParams"},
    {36, 3, "FC_WriteArrayHotspareParams"},
    {37, 3, "FC_DeconfigureDisk"},
    {38, 3, "FC_CoupleArray"},
    {39, 3, "FC_UncoupleArray"},
    {40, 3, "FC_ReadUncoupledMetaData"},
    {41, 3, "FC_CoupleCompCandCount"},
    {42, 3, "FC_CoupleCompCandList"},
    {43, 3, "FC_CoupleResrcCandCount"},
    {44, 3, "FC_CoupleResrcCandList"},
    {45, 3, "FC_CoupleArrayComponentView"},
    {46, 3, "FC_WriteUncoupledMetaData"},
    {47, 3, "FC_ResrcStatistics"},
    {48, 3, "FC_ComponentStatistics"},
    {49, 3, "FC_AllResrcList"},
    {50, 3, "FC_AllResrcView"},
    {51, 3, "FC_Trigger"},
    {52, 3, "FC_CandidateCountAll"},
    {53, 3, "FC_CandidateListAll"},
    {54, 3, "FC_CompExchCandCountAll"},
    {55, 3, "FC_CompExchCandListAll"},
    {56, 3, "FC_CoupleCompCandCountAll"},
    {57, 3, "FC_CoupleCompCandListAll"},
    {58, 3, "FC_CoupleResrcCandCountAll"},
    {59, 3, "FC_CoupleResrcCandListAll"},
    {60, 3, "FC_AllComponentView"},
    {61, 3, "FC_AllHotsparePoolView"},
    {62, 3, "FC_RebuildParity"},
    {101, 3, "FN_IACL_Command"},
    {102, 3, "FN_IACL_Register"},
    {103, 3, "FN_IACL_Unregister"},
    {104, 3, "FN_IACL_RequestLock"},
    {105, 3, "FN_IACL_QueryLock"},
    {106, 3, "FN_IACL_ReleaseLock"},
    {107, 3, "FN_IACL_QueryVersion"},
    {108, 3, "FN_IACL_ChangeVersion"},
    {11, 4, "FN_DBG_LiveDump"},
    {13, 4, "FN_REGY_ServiceList"},
    {14, 4, "FN_REGY_ConnectForNodeChange"},
    {15, 4, "FN_REGY_DiscForNodeChange"},
    {16, 4, "FN_REGY_NodeChangeToRegistry"},
    {17, 4, "FN_REGY_NodeChangeFromRegistry"},
    {18, 4, "FN_REGY_ConnectForErrorLogging"},
    {19, 4, "FN_REGY_DiscForErrorLogging"},
    {20, 4, "FN_REGY_LogErrorToRegistry"},
    {21, 4, "FN_REGY_LogErrorFromRegistry"},
    {22, 4, "FN_REGY_ConnectForResrcChange"},
    {23, 4, "FN_REGY_DiscForResrcChange"},
    {24, 4, "FN_REGY_ResrcChangeToRegistry"},
    {25, 4, "FN_REGY_ResrcChangeFromRegistry"},
    {26, 4, "FN_REGY_ResrcList"},
    {27, 4, "FN_REGY_GetTempResrcID"},
    {28, 4, "FN_REGY_ConnectForHealthCheck"},
    {29, 4, "FN_REGY_DiscForHealthCheck"},
    {30, 4, "FN_REGY_HealthCheckToRegistry"},
    {31, 4, "FN_REGY_HealthCheckFromRegistry"},
    {32, 4, "FN_REGY_SerialNumberSearch"},
    {33, 4, "FN_REGY_TestResrcsReady"},
    {34, 4, "FN_REGY_SetClusterNumber"},
    {35, 4, "FN_REGY_TestOneResrcReady"},
    {36, 4, "FN_REGY_SyncHCheckToRegy"},
    {37, 4, "FN_REGY_SyncHCheckFromRegy"},
    {38, 4, "FN_REGY_ResetErrorToRegistry"},
    {39, 4, "FN_REGY_ResetErrorFromRegistry"},
    {40, 4, "FN_ISALMgr_Inquiry"},
    {41, 4, "FN_ISALMgr_HardwareInquiry"},
    {42, 4, "FN_ISALMgr_SetOwningModuleType"},
    {43, 4, "FN_ISALMgr_AssignManualResrcID"},
    {44, 4, "FN_ISALMgr_GetPhysicalResrcIDs"},
    {45, 4, "FN_ISALMgr_TestResrcsReady"},
    {46, 4, "FN_ISALMgr_VPDInquiry"},
    {47, 4, "FN_ISALMgr_Characteristics"},
    {48, 4, "FN_ISALMgr_Statistics"},
    {49, 4, "FN_ISALMgr_FlashIndicator"},
    {50, 4, "FN_ISALMgr_Open"},
    {51, 4, "FN_ISAL_Close"},
    {52, 4, "FN_ISAL_Read"},
    {53, 4, "FN_ISAL_Write"},
    {54, 4, "FN_ISAL_Format"},
    {55, 4, "FN_ISAL_Progress"},
    {56, 4, "FN_ISAL_Lock"},
    {57, 4, "FN_ISAL_Unlock"},
    {58, 4, "FN_ISAL_Test"},
    {59, 4, "FN_ISAL_SCSI"},
    {60, 4, "FN_ISAL_Download"},
    {62, 4, "FN_ISAL_Fence"},
    {63, 4, "FN_ISALMgr_TestOneResrcReady"},
    {64, 4, "FN_ISALMgr_GetPhysSvcAndRIDs"},
    {65, 4, "FN_ISALMgr_ServiceMode"},
    {66, 4, "FN_ISALMgr_NetworkInquiry"},
    {67, 4, "FN_ISALMgr_Preferences"},
    {68, 4, "FN_ISAL_Flush"},
    {69, 4, "FN_ISALMgr_LockQuery"},
    {70, 4, "FN_ISAL_InitSurf"},
    {71, 4, "FN_ISAL_Read64"},
    {72, 4, "FN_ISAL_Write64"},
    {73, 4, "FN_ISALMgr_Characteristics64"},
    {74, 4, "FN_ISAL_FlushExtent"},
    {79, 4, "FN_ADAP_Control"},
    {80, 4, "FN_ADAP_TransferFromHost"},
    {81, 4, "FN_ADAP_TransferToHost"},
    {82, 4, "FN_ADAP_GetFCLoopMap"},
    {83, 4, "FN_ADAP_TargetTransfer"},
    {84, 4, "FN_ADAP_ConnectForHostTransfer"},
    {85, 4, "FN_ADAP_DiscForHostTransfer"},
    {86, 4, "FN_ADAP_GetClusterNumber"},
    {87, 4, "FN_ADAP_QueryFCNode"},
    {88, 4, "FN_ADAP_GetWWNs"},
    {89, 4, "FN_ADAP_ForceBypass"},
    {90, 4, "FN_ADAP_AdapterHealthCheck"},
    {91, 4, "FN_ADAP_ResetAll"},
    {92, 4, "FN_ADAP_GetStatistics"},
    {93, 4, "FN_ADAP_QueryNodes"},
    {94, 4, "FN_ADAP_GetAdapterUID"},
    {95, 4, "FN_ADAP_SetTime"},
    {96, 4, "FN_ADAP_ServiceMode"},
    {97, 4, "FN_ADAP_GetMasterPriority"},
    {98, 4, "FN_ADAP_GetSupportLevel"},
    {99, 4, "FN_ADAP_QueryPort"},
    {100, 4, "FN_ADAP_ForceWrap"},
    {110, 4, "FN_PROXY_GetEvent"},
    {111, 4, "FN_PROXY_PutEvent"},
    {112, 4, "FN_PROXY_GetSeqNum"},
    {113, 4, "FN_PROXY_SetNum"},
    {114, 4, "FN_PROXY_GetNum"},
    {140, 4, "FN_ADAP_GetNVsize"},
    {141, 4, "FN_ADAP_ReadNVRAM"},
    {142, 4, "FN_ADAP_WriteNVRAM"},
    {143, 4, "FN_ADAP_ShutDown"},
    {144, 4, "FN_ADAP_QueryNotInSync"},
    {145, 4, "FN_ADAP_FlashIndicator"},
    {146, 4, "FN_ADAP_Battery"},
    {147, 4, "FN_ADAP_DumpDevice"},
    {148, 4, "FN_ADAP_SignalEPOW"},
    {149, 4, "FN_ADAP_EnablePorts"},
    {150, 4, "FN_PEER_SetLabel"},
    {151, 4, "FN_PEER_GetLabel"},
    {152, 4, "FN_PEER_GetLocalAdapterID"},
    {153, 4, "FN_PEER_GetAllAdapterIDs"},
    {154, 4, "FN_PEER_ToLocal"},
    {155, 4, "FN_PEER_ToRemote"},
    {160, 4, "FN_RALS_OpenStream"},
    {161, 4, "FN_RALS_CloseStream"},
    {162, 4, "FN_RALS_OpenSeg"},
    {163, 4, "FN_RALS_CloseSeg"},
    {164, 4, "FN_RALS_StageTrack"},
    {165, 4, "FN_RALS_ReadSegDir"},
    {166, 4, "FN_RALS_DestageFullTracks"},
    {167, 4, "FN_RALS_DestageWithPartial"},
    {168, 4, "FN_RALS_DestageMultipleExtents"},
    {169, 4, "FN_RALS_StreamStatistics"},
    {170, 4, "FN_RALS_ResourceStatistics"},
    {200, 4, "FN_ADAP_Unslander"},
    kClosingRow,
};

constexpr CodeNameEntry AdapterServiceTransactionArray[] = {
    {101, 6, "FN_IACL_Command"},
    {102, 6, "FN_IACL_Register"},
    {103, 6, "FN_IACL_Unregister"},
    {104, 6, "FN_IACL_RequestLock"},
    {105, 6, "FN_IACL_QueryLock"},
    {106, 6, "FN_IACL_ReleaseLock"},
    {107, 6, "FN_IACL_QueryVersion"},
    {108, 6, "FN_IACL_ChangeVersion"},
    {11, 17, "FN_DBG_LiveDump"},
    {13, 1, "FN_REGY_ServiceList"},
    {14, 1, "FN_REGY_ConnectForNodeChange"},
    {15, 1, "FN_REGY_DiscForNodeChange"},
    {16, 1, "FN_REGY_NodeChangeToRegistry"},
    {17, 1, "FN_REGY_NodeChangeFromRegistry"},
    {18, 1, "FN_REGY_ConnectForErrorLogging"},
    {19, 1, "FN_REGY_DiscForErrorLogging"},
    {20, 1, "FN_REGY_LogErrorToRegistry"},
    {21, 1, "FN_REGY_LogErrorFromRegistry"},
    {22, 1, "FN_REGY_ConnectForResrcChange"},
    {23, 1, "FN_REGY_DiscForResrcChange"},
    {24, 1, "FN_REGY_ResrcChangeToRegistry"},
    {25, 1, "FN_REGY_ResrcChangeFromRegistry"},
    {26, 1, "FN_REGY_ResrcList"},
    {27, 1, "FN_REGY_GetTempResrcID"},
    {28, 1, "FN_REGY_ConnectForHealthCheck"},
    {29, 1, "FN_REGY_DiscForHealthCheck"},
    {30, 1, "FN_REGY_HealthCheckToRegistry"},
    {31, 1, "FN_REGY_HealthCheckFromRegistry"},
    {32, 1, "FN_REGY_SerialNumberSearch"},
    {33, 1, "FN_REGY_TestResrcsReady"},
    {34, 1, "FN_REGY_SetClusterNumber"},
    {35, 1, "FN_REGY_TestOneResrcReady"},
    {36, 1, "FN_REGY_SyncHCheckToRegy"},
    {37, 1, "FN_REGY_SyncHCheckFromRegy"},
    {38, 1, "FN_REGY_ResetErrorToRegistry"},
    {39, 1, "FN_REGY_ResetErrorFromRegistry"},
    {79, 7, "FN_ADAP_Control"},
    {80, 7, "FN_ADAP_TransferFromHost"},
    {81, 7, "FN_ADAP_TransferToHost"},
    {82, 7, "FN_ADAP_GetFCLoopMap"},
    {83, 7, "FN_ADAP_TargetTransfer"},
    {84, 7, "FN_ADAP_ConnectForHostTransfer"},
    {85, 7, "FN_ADAP_DiscForHostTransfer"},
    {86, 7, "FN_ADAP_GetClusterNumber"},
    {87, 7, "FN_ADAP_QueryFCNode"},
    {88, 7, "FN_ADAP_GetWWNs"},
    {89, 7, "FN_ADAP_ForceBypass"},
    {90, 7, "FN_ADAP_AdapterHealthCheck"},
    {91, 7, "FN_ADAP_ResetAll"},
    {92, 7, "FN_ADAP_GetStatistics"},
    {93, 7, "FN_ADAP_QueryNodes"},
    {94, 7, "FN_ADAP_GetAdapterUID"},
    {95, 7, "FN_ADAP_SetTime"},
    {96, 7, "FN_ADAP_ServiceMode"},
    {97, 7, "FN_ADAP_GetMasterPriority"},
    {98, 7, "FN_ADAP_GetSupportLevel"},
    {99, 7, "FN_ADAP_QueryPort"},
    {100, 7, "FN_ADAP_ForceWrap"},
    {140, 7, "FN_ADAP_GetNVsize"},
    {141, 7, "FN_ADAP_ReadNVRAM"},
    {142, 7, "FN_ADAP_WriteNVRAM"},
    {143, 7, "FN_ADAP_ShutDown"},
    {144, 7, "FN_ADAP_QueryNotInSync"},
    {145, 7, "FN_ADAP_FlashIndicator"},
    {146, 7, "FN_ADAP_Battery"},
    {147, 7, "FN_ADAP_DumpDevice"},
    {148, 7, "FN_ADAP_SignalEPOW"},
    {149, 7, "FN_ADAP_EnablePorts"},
    {110, 8, "FN_PROXY_GetEvent"},
    {111, 8, "FN_PROXY_PutEvent"},
    {112, 8, "FN_PROXY_GetSeqNum"},
    {113, 8, "FN_PROXY_SetNum"},
    {114, 8, "FN_PROXY_GetNum"},
    {150, 9, "FN_PEER_SetLabel"},
    {151, 9, "FN_PEER_GetLabel"},
    {152, 9, "FN_PEER_GetLocalAdapterID"},
    {153, 9, "FN_PEER_GetAllAdapterIDs"},
    {154, 9, "FN_PEER_ToLocal"},
    {155, 9, "FN_PEER_ToRemote"},
    {200, 7, "FN_ADAP_Unslander"},
    {40, 16, "FN_ISALMgr_Inquiry"},
    {41, 16, "FN_ISALMgr_HardwareInquiry"},
    {42, 16, "FN_ISALMgr_SetOwningModuleType"},
    {43, 16, "FN_ISALMgr_AssignManualResrcID"},
    {44, 16, "FN_ISALMgr_GetPhysicalResrcIDs"},
    {45, 16, "FN_ISALMgr_TestResrcsReady"},
    {46, 16, "FN_ISALMgr_VPDInquiry"},
    {47, 16, "FN_ISALMgr_Characteristics"},
    {48, 16, "FN_ISALMgr_Statistics"},
    {49, 16, "FN_ISALMgr_FlashIndicator"},
    {50, 16, "FN_ISALMgr_Open"},
    {63, 16, "FN_ISALMgr_TestOneResrcReady"},
    {64, 16, "FN_ISALMgr_GetPhysSvcAndRIDs"},
    {65, 16, "FN_ISALMgr_ServiceMode"},
    {66, 16, "FN_ISALMgr_NetworkInquiry"},
    {67, 16, "FN_ISALMgr_Preferences"},
    {69, 16, "FN_ISALMgr_LockQuery"},
    {73, 16, "FN_ISALMgr_Characteristics64"},
    {51, 16, "FN_ISAL_Close"},
    {52, 16, "FN_ISAL_Read"},
    {53, 16, "FN_ISAL_Write"},
    {54, 16, "FN_ISAL_Format"},
    {55, 16, "FN_ISAL_Progress"},
    {56, 16, "FN_ISAL_Lock"},
    {57, 16, "FN_ISAL_Unlock"},
    {58, 16, "FN_ISAL_Test"},
    {59, 16, "FN_ISAL_SCSI"},
    {60, 16, "FN_ISAL_Download"},
    {62, 16, "FN_ISAL_Fence"},
    {68, 16, "FN_ISAL_Flush"},
    {70, 16, "FN_ISAL_InitSurf"},
    {71, 16, "FN_ISAL_Read64"},
    {72, 16, "FN_ISAL_Write64"},
    {74, 16, "FN_ISAL_FlushExtent"},
    kClosingRow,
};

constexpr CodeNameEntry IaclTransactionArray[] = {
    {1, 1, "FC_IACLVersion"},
    {2, 1, "FC_ResrcCount"},
    {3, 1, "FC_ResrcList"},
    {4, 1, "FC_ResrcView"},
    {5, 1, "FC_CandidateCount"},
    {6, 1, "FC_CandidateList"},
    {7, 1, "FC_ResrcCreate"},
    {8, 1, "FC_ResrcDelete"},
    {9, 1, "FC_ResrcRename"},
    {10, 1, "FC_ComponentView"},
    {11, 1, "FC_ComponentExchange"},
    {12, 1, "FC_QueryMetaResrcParams"},
    {13, 1, "FC_ModifyResrcParams"},
    {14, 1, "FC_FlashIndicator"},
    {15, 1, "FC_VPDInquiry"},
    {16, 1, "FC_HardwareInquiry"},
    {17, 1, "FC_CompExchCandCount"},
    {18, 1, "FC_CompExchCandList"},
    {19, 1, "FC_AdapterVPD"},
    {20, 1, "FC_SyncHealth"},
    {21, 1, "FC_Wrap"},
    {22, 1, "FC_Unwrap"},
    {23, 1, "FC_UnwrapAll"},
    {24, 1, "FC_Test"},
    {25, 1, "FC_Format"},
    {26, 1, "FC_Certify"},
    {27, 1, "FC_Read"},
    {28, 1, "FC_Write"},
    {29, 1, "FC_AdapterSN"},
    {30, 1, "FC_CacheFormat"},
    {31, 1, "FC_InitSurf"},
    {32, 1, "FC_HotspareCfgStatus"},
    {33, 1, "FC_HotsparePoolList"},
    {34, 1, "FC_HotsparePoolView"},
    {35, 1, "FC_ReadArrayHotspareParams"},
    {36, 1, "FC_WriteArrayHotspareParams"},
    {37, 1, "FC_DeconfigureDisk"},
    {38, 1, "FC_CoupleArray"},
    {39, 1, "FC_UncoupleArray"},
    {40, 1, "FC_ReadUncoupledMetaData"},
    {41, 1, "FC_CoupleCompCandCount"},
    {42, 1, "FC_CoupleCompCandList"},
    {43, 1, "FC_CoupleResrcCandCount"},
    {44, 1, "FC_CoupleResrcCandList"},
    {45, 1, "FC_CoupleArrayComponentView"},
    {46, 1, "FC_WriteUncoupledMetaData"},
    {47, 1, "FC_ResrcStatistics"},
    {48, 1, "FC_ComponentStatistics"},
    {49, 1, "FC_AllResrcList"},
    {50, 1, "FC_AllResrcView"},
    {51, 1, "FC_Trigger"},
    {52, 1, "FC_CandidateCountAll"},
    {53, 1, "FC_CandidateListAll"},
    {54, 1, "FC_CompExchCandCountAll"},
    {55, 1, "FC_CompExchCandListAll"},
    {56, 1, "FC_CoupleCompCandCountAll"},
    {57, 1, "FC_CoupleCompCandListAll"},
    {58, 1, "FC_CoupleResrcCandCountAll"},
    {59, 1, "FC_CoupleResrcCandListAll"},
    {60, 1, "FC_AllComponentView"},
    {61, 1, "FC_AllHotsparePoolView"},
    {62, 1, "FC_RebuildParity"},
    kClosingRow,
};

// clang-format on

namespace {

// ---- Build-time checks of the tables' shape ---------------------------------------------

constexpr bool SameText(const char *a, const char *b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// Rows before the closing row; the closing row must be the last row and the only one.
template <std::size_t N>
constexpr bool ClosedOnceAtEnd(const CodeNameEntry (&table)[N]) {
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if (table[i].key2 == kClosingKey2) return false;
  }
  const CodeNameEntry &last = table[N - 1];
  return last.key1 == kClosingKey1 && last.key2 == kClosingKey2 && SameText(last.name, "endoftable");
}

template <std::size_t N>
constexpr int RowsWithKey2(const CodeNameEntry (&table)[N], std::uint32_t key2) {
  int n = 0;
  for (const CodeNameEntry &row : table) n += row.key2 == key2 ? 1 : 0;
  return n;
}

template <std::size_t N>
constexpr bool NamesStartWith(const CodeNameEntry (&table)[N], std::uint32_t key2, const char *prefix) {
  const std::size_t len = std::char_traits<char>::length(prefix);
  for (const CodeNameEntry &row : table) {
    if (row.key2 == key2 && std::char_traits<char>::compare(row.name, prefix, len) != 0) return false;
  }
  return true;
}

// The IACL table repeats the FC_ rows of the class table, codes 1 up to 62, in the same order.
constexpr bool IaclMatchesValueTable() {
  int k = 0;
  for (const CodeNameEntry &row : ValueToString) {
    if (row.key2 == 3 && row.name[0] == 'F' && row.name[1] == 'C' && row.name[2] == '_') {
      const CodeNameEntry &iacl = IaclTransactionArray[k];
      if (iacl.key1 != row.key1 || iacl.key2 != 1 || iacl.key1 != static_cast<std::uint32_t>(k + 1) ||
          !SameText(iacl.name, row.name)) {
        return false;
      }
      ++k;
    }
  }
  return k == kIaclTransactionRows;
}

// Every service function carries the function number of its FN_ row in the class table (the
// IACL functions among the IACL codes, the others among the service function numbers).
constexpr bool ServiceFunctionsMatchValueTable() {
  for (int i = 0; i < kAdapterServiceTransactionRows; ++i) {
    const CodeNameEntry &fn = AdapterServiceTransactionArray[i];
    bool found = false;
    for (const CodeNameEntry &row : ValueToString) {
      if ((row.key2 == 3 || row.key2 == 4) && SameText(row.name, fn.name)) found = row.key1 == fn.key1;
    }
    if (!found) return false;
  }
  return true;
}

static_assert(std::size(ValueToString) == kValueToStringRows + 1);
static_assert(std::size(AdapterServiceTransactionArray) == kAdapterServiceTransactionRows + 1);
static_assert(std::size(IaclTransactionArray) == kIaclTransactionRows + 1);
static_assert(ClosedOnceAtEnd(ValueToString));
static_assert(ClosedOnceAtEnd(AdapterServiceTransactionArray));
static_assert(ClosedOnceAtEnd(IaclTransactionArray));
static_assert(RowsWithKey2(ValueToString, 1) == 186);
static_assert(RowsWithKey2(ValueToString, 2) == 54);
static_assert(RowsWithKey2(ValueToString, 3) == 70);
static_assert(RowsWithKey2(ValueToString, 4) == 117);
static_assert(NamesStartWith(ValueToString, 4, "FN_"));
static_assert(IaclMatchesValueTable());
static_assert(ServiceFunctionsMatchValueTable());

// Appends text to the result, cut at the buffer's end.
void AppendResult(const char *text) {
  const std::size_t used = std::strlen(szErrorString);
  const std::size_t room = sizeof szErrorString - 1 - used;
  std::strncat(szErrorString, text, room);
}

}  // namespace

const char *TwoInputStringLookup(std::uint32_t input1, std::uint32_t input2,
                                 const CodeNameEntry *table) {
  szErrorString[0] = '\0';
  bool matched = false;
  for (const CodeNameEntry *row = table; row->key2 != kClosingKey2; ++row) {
    if (row->key1 != input1 || (input2 != 0 && row->key2 != input2)) continue;
    if (szErrorString[0] != '\0') AppendResult("?");
    AppendResult(row->name);
    matched = true;
    if (input2 != 0) break;  // class 0 asks for every class: collect them all
  }
  if (!matched) {
    QEL_Trace("qeldebug", kLineLookupFailed,
              "TwoInputStringLookup: Failed to match Input1 0x%x Input2 0x%x\n", input1, input2);
  }
  return szErrorString;
}

const char *GetDebugErrorString(std::uint32_t value, std::uint32_t valueClass) {
  return TwoInputStringLookup(value, valueClass, ValueToString);
}

const char *GetAdapterTransactionName(std::uint32_t service, std::uint32_t function) {
  // The table is keyed by function first, service second.
  return TwoInputStringLookup(function, service, AdapterServiceTransactionArray);
}

const char *GetIaclTransactionName(std::uint32_t functionCode) {
  return TwoInputStringLookup(functionCode, 1, IaclTransactionArray);
}
