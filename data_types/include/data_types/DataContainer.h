// DataContainer.h - the sensor data container library in one include: the
// record format, every container class, the factory, SOME/IP messages and
// pcap records.
#pragma once

#include "data_types/AnyContainer.h"
#include "data_types/BaseContainer.h"
#include "data_types/CANContainer.h"
#include "data_types/ContainerError.h"
#include "data_types/EthernetContainer.h"
#include "data_types/FlexrayContainer.h"
#include "data_types/LINContainer.h"
#include "data_types/LidarContainer.h"
#include "data_types/PCAPData.h"
#include "data_types/PLPRawContainer.h"
#include "data_types/RecordCheck.h"
#include "data_types/RecordLayout.h"
#include "data_types/RecordScanner.h"
#include "data_types/SOMEIPContainer.h"
#include "data_types/SOMEIPMessage.h"
#include "data_types/VideoContainer.h"
