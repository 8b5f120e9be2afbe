// The record manager's DLL as a classic 32-bit Windows caller uses it: loaded
// by name, its entry found with GetProcAddress("BTRCALL"), and called with
// the prototype such callers declare, returning int with __stdcall. The call
// is made in assembly, so that the caller sets what a compiler would hide:
// junk in the upper bits of the 16- and 8-bit arguments, the alignment of
// the stack, values in the registers the callee must preserve, and the whole
// of EAX read as the status.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "tests/engine/engine_test_support.h"
#include "tests/support/temp_dir.h"

extern "C" {

// One call: filled in by the test, then by the assembly. The offsets are
// those the assembly below uses.
struct CallRecord {
    std::uint32_t entry;         // 0: address of BTRCALL
    std::uint32_t arguments[7];  // 4: the seven argument words, first first
    std::uint32_t misalignment;  // 32: bytes below a 16-byte boundary
    std::uint32_t savedEsp;      // 36: the caller's own stack pointer
    std::uint32_t espBefore;     // 40: the stack pointer at the call
    std::uint32_t espAfter;      // 44: the stack pointer on return
    std::uint32_t eax;           // 48
    std::uint32_t ebx;           // 52
    std::uint32_t esi;           // 56
    std::uint32_t edi;           // 60
    std::uint32_t ebp;           // 64
    std::uint32_t canaries[4];   // 68: the four words above the arguments, on return
};
CallRecord nubo_call_record;
void nubo_call_entry();
}

// Pushes four canary words and the seven arguments below a stack pointer
// aligned to 16 bytes less `misalignment`, loads EBX, ESI, EDI and EBP with
// known values, calls the entry, and records the stack pointer, the
// registers and the canaries as the entry left them.
asm(R"(
    .text
    .globl _nubo_call_entry
_nubo_call_entry:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl %esp, _nubo_call_record+36
    andl $-16, %esp
    subl _nubo_call_record+32, %esp
    pushl $0xC0DE0003
    pushl $0xC0DE0002
    pushl $0xC0DE0001
    pushl $0xC0DE0000
    pushl _nubo_call_record+28
    pushl _nubo_call_record+24
    pushl _nubo_call_record+20
    pushl _nubo_call_record+16
    pushl _nubo_call_record+12
    pushl _nubo_call_record+8
    pushl _nubo_call_record+4
    movl %esp, _nubo_call_record+40
    movl $0x0B0B0B0B, %ebx
    movl $0x51515151, %esi
    movl $0xD1D1D1D1, %edi
    movl $0xBEBEBEBE, %ebp
    call *_nubo_call_record
    movl %esp, _nubo_call_record+44
    movl %eax, _nubo_call_record+48
    movl %ebx, _nubo_call_record+52
    movl %esi, _nubo_call_record+56
    movl %edi, _nubo_call_record+60
    movl %ebp, _nubo_call_record+64
    movl _nubo_call_record+40, %ecx
    movl 28(%ecx), %edx
    movl %edx, _nubo_call_record+68
    movl 32(%ecx), %edx
    movl %edx, _nubo_call_record+72
    movl 36(%ecx), %edx
    movl %edx, _nubo_call_record+76
    movl 40(%ecx), %edx
    movl %edx, _nubo_call_record+80
    movl _nubo_call_record+36, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

namespace {

using namespace engine_test;

static_assert(sizeof(void*) == 4, "the classic call is the 32-bit one");

// A caller with its own buffers that calls the DLL's entry as above; the data
// length is followed by a guard word the entry must not touch.
class ClassicCaller {
public:
    explicit ClassicCaller(FARPROC entry) : entry_(entry) {}

    unsigned char position[128] = {};
    unsigned char data[1536] = {};
    unsigned char key[256] = {};
    struct {
        std::uint32_t value;
        std::uint32_t guard;
    } length = {};

    // Calls the entry and checks everything the call must leave as it was;
    // returns EAX whole.
    std::uint32_t call(std::uint16_t operation, std::uint32_t dataLength, std::int8_t keyNumber,
                       std::uint8_t keyLength = 255) {
        length.value = dataLength;
        length.guard = 0x6A6A6A6A;
        CallRecord& r = nubo_call_record;
        r = CallRecord{};
        r.entry = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(entry_));
        r.arguments[0] = (junk() << 16) | operation;
        r.arguments[1] = address(position);
        r.arguments[2] = address(data);
        r.arguments[3] = address(&length.value);
        r.arguments[4] = address(key);
        r.arguments[5] = (junk() << 8) | keyLength;
        r.arguments[6] = (junk() << 8) | static_cast<std::uint8_t>(keyNumber);
        r.misalignment = (calls_++ % 4) * 4;
        nubo_call_entry();

        // __stdcall: the entry removes its 28 bytes of arguments.
        EXPECT_EQ(r.espAfter, r.espBefore + 28) << "operation " << operation;
        EXPECT_EQ(r.ebx, 0x0B0B0B0Bu) << "operation " << operation;
        EXPECT_EQ(r.esi, 0x51515151u) << "operation " << operation;
        EXPECT_EQ(r.edi, 0xD1D1D1D1u) << "operation " << operation;
        EXPECT_EQ(r.ebp, 0xBEBEBEBEu) << "operation " << operation;
        for (std::uint32_t i = 0; i < 4; ++i) {
            EXPECT_EQ(r.canaries[i], 0xC0DE0000u + i) << "operation " << operation;
        }
        EXPECT_EQ(length.guard, 0x6A6A6A6Au) << "operation " << operation;
        return r.eax;
    }

    void setKey(const std::string& value) {
        std::memset(key, 0, sizeof key);
        std::memcpy(key, value.data(), std::min(value.size(), sizeof key));
    }

private:
    static std::uint32_t address(const void* p) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
    }
    // Upper bits a classic caller may leave in a narrow argument's word.
    std::uint32_t junk() { return static_cast<std::uint32_t>(random_()) & 0x00FFFFFFu; }

    FARPROC entry_;
    std::mt19937 random_{20260610};
    std::uint32_t calls_ = 0;
};

std::string recordFor(int n) {
    char key[9];
    std::snprintf(key, sizeof key, "K%07d", n);
    return std::string(key, 8) + std::string(8, static_cast<char>('a' + n % 26));
}

class StdcallCaller : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = ::LoadLibraryA("nubodb.dll");
        ASSERT_NE(module_, nullptr) << "nubodb.dll beside the test program";
        entry_ = ::GetProcAddress(module_, "BTRCALL");
        ASSERT_NE(entry_, nullptr) << "nubodb.dll exports BTRCALL by its plain name";
    }
    void TearDown() override {
        if (module_ != nullptr) ::FreeLibrary(module_);
    }

    HMODULE module_ = nullptr;
    FARPROC entry_ = nullptr;
    testing_support::TempDir dir_;
};

TEST_F(StdcallCaller, ManyCallsWithJunkInTheNarrowArgumentsKeepTheStackRegistersAndStatuses) {
    ClassicCaller c(entry_);
    const std::string path = (dir_.path() / "CALLS.DAT").string();
    constexpr int records = 150;

    // Create (key number -1 keeps an existing file: its low byte alone is -1).
    const std::string description = makeDescription(16, {{{1, 8}}});
    std::memset(c.data, ' ', sizeof c.data);
    std::memcpy(c.data, description.data(), description.size());
    c.setKey(path);
    ASSERT_EQ(c.call(opCreate, sizeof c.data, -1), 0u);
    c.setKey(path);
    ASSERT_EQ(c.call(opOpen, 0, 0), 0u);

    for (int n = 0; n < records; ++n) {
        const std::string record = recordFor(n);
        std::memcpy(c.data, record.data(), record.size());
        ASSERT_EQ(c.call(opInsert, 16, 0), 0u) << n;
    }
    // A duplicate key: status 5, in the whole of EAX.
    const std::string again = recordFor(7);
    std::memcpy(c.data, again.data(), again.size());
    EXPECT_EQ(c.call(opInsert, 16, 0), 5u);

    for (int n = 0; n < records; ++n) {
        const std::string record = recordFor(n);
        c.setKey(record.substr(0, 8));
        std::memset(c.data, 0, sizeof c.data);
        ASSERT_EQ(c.call(opGetEqual, sizeof c.data, 0), 0u) << n;
        EXPECT_EQ(c.length.value, 16u) << n;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.data), 16), record) << n;
    }
    c.setKey("K9999999");
    EXPECT_EQ(c.call(opGetEqual, sizeof c.data, 0), 4u);
    EXPECT_EQ(c.call(opGetLast, sizeof c.data, 0), 0u);
    EXPECT_EQ(c.call(opGetNext, sizeof c.data, 0), 9u);
    // Key number 5 is not a key of the file.
    EXPECT_EQ(c.call(opGetFirst, sizeof c.data, 5), 6u);

    EXPECT_EQ(c.call(opStat, sizeof c.data, 0), 0u);
    EXPECT_EQ(coding::getU32(c.data + 6), static_cast<std::uint32_t>(records));

    EXPECT_EQ(c.call(opClose, 0, 0), 0u);
    EXPECT_EQ(c.call(opClose, 0, 0), 3u);
    c.setKey((dir_.path() / "MISSING.DAT").string());
    EXPECT_EQ(c.call(opOpen, 0, 0), 12u);
    EXPECT_EQ(c.call(opReset, 0, 0), 0u);
}

}  // namespace
