// The printer's end of a pseudo-terminal pair. The host side opens the slave like
// any serial or printer device; the printer reads and writes the master.
#pragma once

#include <string>

namespace vprinter {

class PtyPort {
 public:
  PtyPort() = default;
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // Creates the pair, sets it raw, keeps a slave descriptor open. The master is
  // non-blocking. On failure returns false with a message in *error.
  [[nodiscard]] bool Open(std::string* error);
  // Points a symbolic link at the slave (replacing an older link, never a file).
  [[nodiscard]] bool PublishLink(const std::string& link, std::string* error);
  // Removes the link if it still points at this slave, and closes everything.
  void Close();

  int MasterFd() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }
  const std::string& LinkPath() const { return link_; }

 private:
  int master_ = -1;
  int slave_ = -1;  // held so that clients may open and close the slave at will
  std::string slavePath_;
  std::string link_;
};

}  // namespace vprinter
