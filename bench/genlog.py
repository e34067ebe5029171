#!/usr/bin/python3
"""Writes a realistic Counter-Strike (HLDS) server log for benchmarks and the
demo server.

A 20-player server (Steam ids, bots, a UTF-8 name): about a fifth of the lines
are chat (public, T and CT), a quarter kills (team kills included), rounds end
in _Win lines with the running totals, and every ~2,000 lines the map changes
with a new block of server variables, as when several logs are joined in one
file. Also the everyday oddities: plugin lines with an unquoted "killed",
players with an empty team, chat cut at the engine's 1,024-byte line limit.

    genlog.py --size 256M --seed 1 -o big.log
    genlog.py --size 1M --unique-ids      # every connect brings a new id
    genlog.py --size 1M --name-changes    # players also change their names
    genlog.py --size 1M --renames 0.08    # renaming-heavy: 8% of the events are name changes
"""
import argparse
import datetime
import random
import sys

MAPS = ["de_dust2", "de_inferno", "de_nuke", "de_train", "cs_office", "de_aztec", "cs_italy", "de_cbble"]
WEAPONS = ["ak47", "m4a1", "awp", "deagle", "usp", "glock18", "mp5navy", "famas", "galil", "p90",
           "hegrenade", "knife", "scout", "m3", "elite"]
NAMES = ["Alice", "Bob", "Carl", "Dave", "Eve", "Frank", "Gina", "Hank", "Ivy", "Jack",
         "Kira", "Leo", "Mona", "Nils", "Olga", "Piet", "[TAG] Quinn", "Rex<3", "Jürgen", "Zoë"]
ALIASES = ["afk", "pro", "noob", "sniper", "[NEW]", "<3"]
BOTS = ["Nyx", "Crusher", "Gunner"]
CHAT = ["gg", "nice shot", "rush b", "go go go", "lol", "wtf was that", "camping noob",
        "need backup at long", "eco round", "buy awp", "who has the bomb?", "ok", "thx",
        "bomb planted A", "I'm lagging", "sorry tk", "de_dust2 again?", "<3", "brb", "report cheater"]
CVARS = [("mp_friendlyfire", "1"), ("mp_timelimit", "20"), ("mp_roundtime", "3"), ("mp_freezetime", "6"),
         ("mp_buytime", "0.25"), ("mp_c4timer", "35"), ("mp_startmoney", "800"), ("mp_maxrounds", "0"),
         ("mp_winlimit", "0"), ("mp_fraglimit", "0"), ("mp_autoteambalance", "1"), ("mp_limitteams", "2"),
         ("mp_tkpunish", "0"), ("mp_autokick", "1"), ("mp_flashlight", "1"), ("mp_footsteps", "1"),
         ("mp_forcecamera", "0"), ("mp_hostagepenalty", "13"), ("mp_logdetail", "3"), ("mp_logmessages", "1"),
         ("sv_gravity", "800"), ("sv_maxspeed", "320"), ("sv_accelerate", "5"), ("sv_airaccelerate", "10"),
         ("sv_friction", "4"), ("sv_stopspeed", "75"), ("sv_cheats", "0"), ("sv_password", ""),
         ("sv_restartround", "0"), ("public_slots_free", "4"), ("sv_contact", "admin@example.org"),
         ("sv_alltalk", "0"), ("allow_spectators", "1"), ("coop", "0"), ("deathmatch", "1"),
         ("pausable", "0"), ("decalfrequency", "30"), ("edgefriction", "2"), ("sv_voiceenable", "1")]


class Player:
    def __init__(self, slot, name, uid, steam, bot=False):
        self.slot, self.name, self.uid, self.steam, self.bot = slot, name, uid, steam, bot
        self.team = ""

    def field(self):
        return f'"{self.name}<{self.uid}><{self.steam}><{self.team}>"'


class Generator:
    def __init__(self, seed, unique_ids, newline, name_changes=False, renames=0.0):
        self.rng = random.Random(seed)
        self.unique_ids = unique_ids
        self.name_changes = name_changes
        self.renames = renames
        self.nl = newline
        self.when = datetime.datetime(2003, 10, 20, 20, 13, 52)
        self.prefix = ""
        self.stamp()
        self.next_uid = 1
        self.next_steam = 100000
        self.players = []
        self.known = {}  # name -> Steam id, kept across reconnects unless --unique-ids
        self.out = []
        self.bytes = 0
        self.ct_wins = 0
        self.t_wins = 0

    def stamp(self):
        self.prefix = self.when.strftime("L %m/%d/%Y - %H:%M:%S: ")

    def tick(self, seconds):
        if seconds:
            self.when += datetime.timedelta(seconds=seconds)
            self.stamp()

    def emit(self, event):
        line = self.prefix + event
        if len(line) > 1023:  # the engine's line limit
            line = line[:1023]
        line += self.nl
        self.out.append(line)
        self.bytes += len(line.encode("utf-8"))

    def steam_id(self, bot):
        if bot:
            return "BOT"
        self.next_steam += self.rng.randint(1, 50)
        return f"STEAM_0:{self.rng.randint(0, 1)}:{self.next_steam}"

    def connect(self, slot, name, bot=False):
        rng = self.rng
        uid = self.next_uid
        self.next_uid += 1
        steam = self.known.get(name) if not bot and not self.unique_ids else None
        p = Player(slot, name, uid, steam or self.steam_id(bot), bot)
        if not bot:
            self.known.setdefault(name, p.steam)
            self.emit(f'{p.field()} connected, address "192.168.{rng.randint(0, 255)}.{rng.randint(1, 254)}:27005"')
            self.emit(f'{p.field()} STEAM USERID validated')
        else:
            self.emit(f'{p.field()} connected, address ""')
        self.emit(f'{p.field()} entered the game')
        cts = sum(1 for q in self.players if q.team == "CT")
        team = "CT" if cts < len(self.players) - cts else "TERRORIST"
        old = p.field()
        p.team = team
        self.emit(f'{old} joined team "{team}"')
        return p

    def fill_server(self):
        self.players = []
        for i, name in enumerate(NAMES[:17] + BOTS):
            self.players.append(self.connect(i, name, bot=name in BOTS))

    def reconnect(self):
        p = self.rng.choice(self.players)
        self.emit(f'{p.field()} disconnected')
        slot = self.players.index(p)
        self.players[slot] = self.connect(p.slot, p.name, p.bot)

    def new_map(self, first):
        rng = self.rng
        name = rng.choice(MAPS)
        if not first:
            self.emit('Log file closed')
            self.emit(f'Log file started (file "logs/L{self.when:%m%d}{rng.randint(0, 999):03d}.log") '
                      '(game "cstrike") (version "48/1.1.2.7/Stdio/4554")')
        self.emit(f'Loading map "{name}"')
        self.emit('Server cvars start')
        for cvar, value in CVARS:
            if cvar == "mp_timelimit":
                value = str(rng.choice([20, 25, 30, 45]))
            self.emit(f'Server cvar "{cvar}" = "{value}"')
        self.emit('Server cvars end')
        self.emit(f'Started map "{name}" (CRC "{rng.randint(-2**31, 2**31 - 1)}")')
        self.ct_wins = self.t_wins = 0
        self.fill_server()

    def chat(self):
        rng = self.rng
        p = rng.choice(self.players)
        text = rng.choice(CHAT)
        if rng.random() < 0.002:
            text = "spam " * 300  # cut at the line limit, no closing quote
        dead = " (dead)" if rng.random() < 0.3 else ""
        kind = rng.random()
        if kind < 0.6:
            self.emit(f'{p.field()} say "{text}"{dead}')
        else:
            self.emit(f'{p.field()} say_team "{text}"{dead}')

    def kill(self):
        rng = self.rng
        killer = rng.choice(self.players)
        victims = [q for q in self.players if q is not killer]
        if rng.random() < 0.05:
            same = [q for q in victims if q.team == killer.team]
            victim = rng.choice(same or victims)
        else:
            other = [q for q in victims if q.team != killer.team]
            victim = rng.choice(other or victims)
        hs = " (headshot)" if rng.random() < 0.2 else ""
        self.emit(f'{killer.field()} killed {victim.field()} with "{rng.choice(WEAPONS)}"{hs}')

    def round_end(self):
        rng = self.rng
        if rng.random() < 0.5:
            self.ct_wins += 1
            winner, trigger = "CT", rng.choice(["CTs_Win", "Target_Saved", "Bomb_Defused"])
        else:
            self.t_wins += 1
            winner, trigger = "TERRORIST", rng.choice(["Terrorists_Win", "Target_Bombed"])
        self.emit(f'Team "{winner}" triggered "{trigger}" (CT "{self.ct_wins}") (T "{self.t_wins}")')
        self.emit('World triggered "Round_End"')
        self.tick(5)
        self.emit('World triggered "Round_Start"')

    def rename(self):
        rng = self.rng
        p = rng.choice([q for q in self.players if not q.bot])
        base = p.name.split("|")[0]
        new = base if rng.random() < 0.5 else f"{base}|{rng.choice(ALIASES)}"
        if new != p.name:
            self.emit(f'{p.field()} changed name to "{new}"')
            p.name = new

    def other(self):
        rng = self.rng
        if self.name_changes and rng.random() < 0.02:
            self.rename()
            return
        p = rng.choice(self.players)
        r = rng.random()
        if r < 0.45:
            q = rng.choice(self.players)
            self.emit(f'{p.field()} attacked {q.field()} with "{rng.choice(WEAPONS)}" '
                      f'(damage "{rng.randint(5, 100)}") (damage_armor "{rng.randint(0, 20)}") '
                      f'(health "{rng.randint(0, 99)}") (armor "{rng.randint(0, 100)}")')
        elif r < 0.65:
            self.emit(f'{p.field()} triggered "{rng.choice(["Got_The_Bomb", "Dropped_The_Bomb", "Planted_The_Bomb", "Spawned_With_The_Bomb", "Begin_Bomb_Defuse_Without_Kit"])}"')
        elif r < 0.75:
            self.emit(f'{p.field()} committed suicide with "{rng.choice(["world", "hegrenade", "worldspawn"])}"')
        elif r < 0.82:
            self.emit(f'[AMXX] Plugin: {p.name} killed {rng.choice(self.players).name} (statsx)')
        elif r < 0.88:
            self.emit(f'Server say "Next map: {rng.choice(MAPS)}"')
        elif r < 0.93:
            self.emit(f'Rcon: "rcon {rng.randint(1000, 9999)} "********" status" from "10.0.0.{rng.randint(2, 250)}:27005"')
        elif r < 0.97:
            self.emit(f'"Spectator<{self.next_uid}><STEAM_ID_PENDING><>" connected, address "10.1.1.1:27005"')
        else:
            self.emit(f'Server cvar "mp_timelimit" = "{rng.choice([20, 30, 45])}"')

    def event(self):
        r = self.rng.random()
        if r < 0.22:
            self.chat()
        elif r < 0.495:
            self.kill()
        elif r < 0.52:
            self.round_end()
        elif self.unique_ids and r < 0.60:
            self.reconnect()
        elif r < 0.53:
            self.reconnect()
        else:
            self.other()

    def write(self, size, sink):
        rng = self.rng
        self.emit('Log file started (file "logs/L1020000.log") (game "cstrike") (version "48/1.1.2.7/Stdio/4554")')
        self.new_map(first=True)
        since_map = 0
        written = 0
        while written + self.bytes < size:
            if self.renames and rng.random() < self.renames:
                self.rename()
            else:
                self.event()
            self.tick(rng.randint(0, 3) if rng.random() < 0.3 else 0)
            since_map += 1
            if since_map >= 2000:
                since_map = 0
                self.new_map(first=False)
            if len(self.out) >= 20000:
                written += self.flush(sink)
        written += self.flush(sink)

    def flush(self, sink):
        data = "".join(self.out).encode("utf-8")
        sink.write(data)
        self.out.clear()
        self.bytes = 0
        return len(data)


def parse_size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    text = text.strip().upper().rstrip("B").rstrip("I")
    if text and text[-1] in units:
        return int(float(text[:-1]) * units[text[-1]])
    return int(text)


def main():
    parser = argparse.ArgumentParser(description="Writes a realistic HLDS Counter-Strike log.")
    parser.add_argument("--size", default="1M", help="about this many bytes, e.g. 4096, 64K, 256M (default 1M)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--unique-ids", action="store_true",
                        help="players reconnect often and every connect brings a new Steam id")
    parser.add_argument("--name-changes", action="store_true", help="players now and then change their names")
    parser.add_argument("--renames", type=float, default=0.0,
                        help="renaming-heavy: this share of the events (0 to 1) are name changes, "
                             "on top of --name-changes")
    parser.add_argument("--crlf", action="store_true", help="end lines with CR LF instead of LF")
    parser.add_argument("-o", "--output", help="file to write (default: standard output)")
    args = parser.parse_args()
    gen = Generator(args.seed, args.unique_ids, "\r\n" if args.crlf else "\n", args.name_changes, args.renames)
    size = parse_size(args.size)
    if args.output:
        with open(args.output, "wb") as sink:
            gen.write(size, sink)
    else:
        gen.write(size, sys.stdout.buffer)


if __name__ == "__main__":
    main()
