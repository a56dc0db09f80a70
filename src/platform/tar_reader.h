// The tar layer of the tar.xz unpacker: takes the decoded tar stream in pieces of any size and
// writes its regular files through the name mapper as they go by. Links become copies of files
// written earlier in the same stream; nothing but plain files and folders is created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/archive_file.h"
#include "platform/archive_path.h"

namespace launcher {

// Where the reader is in the tar stream, kept from one piece to the next.
struct TarState {
  enum class Sink { kNowhere, kFile, kMeta };

  std::filesystem::path dest;
  NameMapper mapper;
  std::string archive;  // the archive's path as UTF-8, for messages

  uint8_t header[512] = {};
  size_t header_fill = 0;  // 0 to 512

  // The current entry.
  char type = 0;
  bool in_data = false;      // its data is being read
  Sink sink = Sink::kNowhere;
  uint64_t data_left = 0;    // data bytes still to come
  uint64_t data_padding = 0; // padding after its data, up to the next 512-byte block

  uint64_t skip_left = 0;    // padding bytes still to pass over

  OutputFile file;           // at most one output file is open
  std::filesystem::path file_path;
  bool file_executable = false;
  bool file_waits = false;   // the entry's file is made when its data comes: in one piece
                             // when the piece at hand holds all of it
  ArchiveFolders folders;    // makes the parent folders of what is written

  int zero_blocks = 0;       // zero blocks in a row; two end the archive
  bool ended = false;        // the end marker was read: the rest of the stream is not tar data

  std::string meta;          // the data of the current 'L', 'K' or 'x' entry

  // Set by meta entries for the next entry that is not a meta entry itself.
  std::string long_name;     // from 'L'
  std::string pax_path;      // from a pax "path" record
  std::string link_name;     // from 'K' or a pax "linkpath" record
  bool has_pax_size = false; // a pax "size" record: the data length, in place of the header's
  uint64_t pax_size = 0;
  bool sparse = false;        // GNU.sparse records: the next entry is a sparse file
  std::string sparse_name;    // its real name, from a GNU.sparse.name record
  bool meta_pending = false;  // a meta entry was read whose entry has not come yet

  // A file written so far in this stream: the mapped name it was written under, and whether it
  // is a program (so that a copy made for a link is one too).
  struct Written {
    std::string mapped;
    bool executable = false;
  };
  // Entry name in the archive (normalised, see NormalizeSlashPath) -> what was written for it.
  std::unordered_map<std::string, Written> written;

  std::unique_ptr<char[]> copy_buffer;  // made for the first link copy
};

class TarReader {
 public:
  // `archive` names the stream's archive in messages.
  TarReader(const std::filesystem::path& dest, const NameMapper& mapper,
            const std::filesystem::path& archive);

  // Handles the next piece of the stream (nothing after the end marker, two zero blocks, which
  // some writers follow with an index of their own); false with one sentence in `error` when the
  // unpack must stop: "unsafe path in the archive: <name>", "cannot unpack the sparse file
  // <name> from <archive>" (GNU sparse files, in any of their forms, are refused rather than
  // written wrong), or "cannot write <path>" followed by the system's reason. Each file takes its
  // name only once it is whole.
  bool Feed(const uint8_t* data, size_t size, std::string& error);

  // The stream has ended: true when it ended well, at the end marker or between two entries;
  // false with "the tar data ends early: <archive>" when it ended inside an entry (its data, its
  // padding or its header, or after the meta entry that names it). A file cut short there is
  // removed, never left under its name.
  bool Finish(std::string& error);

  // Whether the end marker has been read.
  bool ended() const { return state_.ended; }

 private:
  bool TakeData(const uint8_t* data, size_t size, std::string& error);
  bool WriteFile(const uint8_t* data, size_t size, std::string& error);
  bool StartEntry(std::string& error);
  bool StartFile(const std::string& name, bool executable, std::string& error);
  bool CopyLink(const std::string& name, const std::string& target, std::string& error);
  bool CopyFile(const std::filesystem::path& source, const std::filesystem::path& out,
                bool executable, bool& copied, std::string& error);
  bool FinishEntry(std::string& error);
  bool Between() const;
  void ApplyPax();

  TarState state_;
};

}  // namespace launcher
