// System information for the log banner: gathered once when the component is created.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace korvel {

class TXSystemInformation;

class TCustomInfo {
 public:
  explicit TCustomInfo(TXSystemInformation* owner) : owner_(owner) {}
  virtual ~TCustomInfo() = default;
  TXSystemInformation* Owner() const { return owner_; }

 protected:
  virtual void Refresh() = 0;

 private:
  TXSystemInformation* owner_;
};

class TOperatingSystemInfo : public TCustomInfo {
 public:
  explicit TOperatingSystemInfo(TXSystemInformation* owner) : TCustomInfo(owner) { Refresh(); }
  std::string Platform, MajorVersion, MinorVersion, BuildNumber, Extension;

 protected:
  void Refresh() override;
};

class TComputerInfo : public TCustomInfo {
 public:
  explicit TComputerInfo(TXSystemInformation* owner) : TCustomInfo(owner) { Refresh(); }
  std::string ProcessorArchitecture, PageSize, MinimumApplicationAddress, MaximumApplicationAddress,
      ActiveProcessorMask, NumberOfProcessors, ProcessorType, AllocationGranularity, ProcessorLevel,
      ProcessorRevision, Frequency;

 protected:
  void Refresh() override;
};

// Sizes in bytes, held in 64 bits so that 2 GiB and more do not wrap.
class TMemoryInfo : public TCustomInfo {
 public:
  explicit TMemoryInfo(TXSystemInformation* owner) : TCustomInfo(owner) { Refresh(); }
  int64_t MemoryLoad = 0, TotalPhysical = 0, AvailablePhysical = 0, TotalPageFile = 0, AvailablePageFile = 0,
          TotalVirtual = 0, AvailableVirtual = 0;

 protected:
  void Refresh() override;
};

class TVolumeInfo : public TCustomInfo {
 public:
  explicit TVolumeInfo(TXSystemInformation* owner) : TCustomInfo(owner) { Refresh(); }
  uint32_t AvailableDrives = 0;  // bit 0 = "A"
  bool HasDrive(char letter) const;

 protected:
  void Refresh() override;
};

class TXSystemInformation {
 public:
  TXSystemInformation();
  ~TXSystemInformation();
  TOperatingSystemInfo& OperatingSystem() { return *os_; }
  TComputerInfo& Computer() { return *computer_; }
  TVolumeInfo& Volume() { return *volume_; }
  TMemoryInfo& Memory() { return *memory_; }

 private:
  std::unique_ptr<TOperatingSystemInfo> os_;
  std::unique_ptr<TComputerInfo> computer_;
  std::unique_ptr<TVolumeInfo> volume_;
  std::unique_ptr<TMemoryInfo> memory_;
};

// The architecture name for a processor architecture code ("Intel", "MIPS", "Aplha", "PPC").
std::string ArchitectureName(int code);

}  // namespace korvel
