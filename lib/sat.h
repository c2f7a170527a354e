/* sat.h - Torvane SAT driver library (libtorvane_sat_x64.so / libtorvane_sat_x86.so)
 *
 * WHAT IT IS
 *   The driver of a SAT fiscal device (CF-e-SAT) attached to this computer as a
 *   terminal node, by default /dev/ttyQZ0. Each SAT function below turns one call
 *   into one text command for the device, waits for the device's answer and
 *   returns it as a '|'-separated text:
 *       field 0  the six-digit session number (numeroSessao of the call),
 *       field 1  the five-digit result code; its first two digits name the
 *                function's family (ConsultarSAT 08xxx, EnviarDadosVenda 06xxx, ...),
 *       further fields as the SAT standard defines them for the function.
 *   The library starts by itself at the first call that needs the device (or at
 *   the first SetDriver call) and reads /var/torvane_halvex/sat.ini then, once.
 *
 * THE RETURNED TEXT
 *   Every SAT function returns a pointer into the library's one response buffer.
 *   It is never NULL. The library owns it: do not free it, do not write to it. It
 *   stays valid until the next SAT function call of the process, which overwrites
 *   it; copy it if you need it longer. SetDriver returns constant texts.
 *
 * WHICH CALLS MAY RUN AT ONCE
 *   The library starts no threads. The SAT functions share one device, one
 *   response buffer and one deadline, so each of them holds the call lock from its
 *   start to its end: a second call waits (polling every 100 ms, without limit)
 *   until the first has returned. Taking the lock costs 100 ms per call. With the
 *   setting LOCK=false (sat.ini) or SetDriver("LOCK", "false") the lock is off and
 *   the host must not make two calls at once. SetDriver never takes the lock.
 *
 * HOW FAILURES SHOW
 *   The functions never return an error code. When the device cannot be opened,
 *   the command cannot be written, or no complete answer with the call's session
 *   number arrives before the function's deadline, the function returns its busy
 *   answer instead of the device's:
 *       "<numeroSessao %06d>|<family>098|SAT em processamento. Tente novamente.||"
 *   (EnviarDadosVenda and CancelarUltimaVenda: "...|06098|0000|SAT em ..."). Any
 *   answer of the device, error codes included, is returned exactly as it came.
 *
 * TEXT ARGUMENTS
 *   NUL-terminated 8-bit texts, passed on to the device as they are (nothing is
 *   escaped: a '|' inside a field splits it on the device's side). A NULL pointer
 *   counts as the empty text.
 *
 * SETTINGS (/var/torvane_halvex/sat.ini, read at start-up; see also SetDriver)
 *   [DEFAULT] DEBUG=true      diagnostic log /var/torvane_halvex/lib_torvane_halvex.log
 *             SERIAL=ttyUSB0  device node ("/dev/" is put in front when missing)
 *             NO_POPUP=false  console messages on standard output
 *             CORRECAO=true   decode &#xNN; references of sale data (EnviarDadosVenda)
 *             LOCK=false      call lock off
 *             RET_10001=true  ConsultarStatusOperacional answers 10001 for 10099
 *             N_TENT=NN       attempts of sale, cancellation and session queries (1-99)
 *             TMP_TENT=NN     seconds between those attempts (3-99)
 *   [TIMEOUT] T_<FUNCTION>=MM:SS  deadline of one function (first or second section
 *             of the file only). The first call of a process uses the built-in
 *             deadline, since its deadline is set before the file is read.
 *
 * BLOCKING
 *   Each function blocks for at most its deadline plus about 2 s (the last read
 *   may wait 2 s of silence), plus the wait for the call lock. Built-in deadlines
 *   (MM:SS) are given with each function. The functions with attempts block for
 *   up to N_TENT attempts plus (N_TENT - 1) pauses of TMP_TENT seconds.
 */
#ifndef TORVANE_SAT_H
#define TORVANE_SAT_H

#if defined(__GNUC__)
#define SAT_API __attribute__((visibility("default")))
#else
#define SAT_API
#endif

#ifdef __cplusplus
#define SAT_NOEXCEPT noexcept
extern "C" {
#else
#define SAT_NOEXCEPT
#endif

/* AtivarSAT: activates the device for the taxpayer CNPJ in state cUF.
 * subComando: 1 own certificate, 2 ICP-Brasil, 3 renewal. cUF is sent as "%2d".
 * Answer family 04. Deadline T_ATIVAR_SAT, built-in 05:00. */
SAT_API char* AtivarSAT(int numeroSessao, int subComando, char* codigoDeAtivacao, char* CNPJ,
                        int cUF) SAT_NOEXCEPT;

/* ComunicarCertificadoICPBRASIL: hands the device its ICP-Brasil certificate.
 * Answer family 05. Deadline T_COMUNICAR_CERTIFICADO_ICPBRASIL, built-in 05:00. */
SAT_API char* ComunicarCertificadoICPBRASIL(int numeroSessao, char* codigoDeAtivacao,
                                            char* certificado) SAT_NOEXCEPT;

/* EnviarDadosVenda: sends a sale document (CF-e XML); the device answers with the
 * signed receipt. Retries up to N_TENT attempts: after a lost answer it first asks
 * the device for the stored answer of this session, so a receipt is never issued
 * twice. With CORRECAO=true the caller's dadosVenda is corrected in place first.
 * Answer family 06. Deadline T_ENVIAR_DADOS_VENDA, built-in 00:20 per attempt
 * (session check T_CONSULTAR_NUMERO_SESSAO, 00:20). */
SAT_API char* EnviarDadosVenda(int numeroSessao, char* codigoDeAtivacao,
                               char* dadosVenda) SAT_NOEXCEPT;

/* CancelarUltimaVenda: cancels the last sale, whose access key is chave.
 * Retries like EnviarDadosVenda. Answer family 07.
 * Deadline T_CANCELAR_ULTIMA_VENDA, built-in 00:03 per attempt. */
SAT_API char* CancelarUltimaVenda(int numeroSessao, char* codigoDeAtivacao, char* chave,
                                  char* dadosCancelamento) SAT_NOEXCEPT;

/* ConsultarSAT: asks whether the device is in operation (08000).
 * Deadline T_CONSULTAR_SAT, built-in 00:04. */
SAT_API char* ConsultarSAT(int numeroSessao) SAT_NOEXCEPT;

/* TesteFimAFim: end-to-end test with a test sale document. Answer family 09.
 * Deadline T_TESTE_FIM_A_FIM, built-in 00:40. */
SAT_API char* TesteFimAFim(int numeroSessao, char* codigoDeAtivacao, char* dadosVenda) SAT_NOEXCEPT;

/* ConsultarStatusOperacional: the device's operational status (28 fields).
 * With RET_10001=true a 10099 answer becomes "<sessao>|10001|Codigo de ativacao
 * invalido||". Answer family 10. Deadline T_CONSULTAR_STATUS_OPERACIONAL, 00:04. */
SAT_API char* ConsultarStatusOperacional(int numeroSessao, char* codigoDeAtivacao) SAT_NOEXCEPT;

/* ConsultarNumeroSessao: the stored answer of the earlier session cNumeroDeSessao
 * (its field 0 is that session's number). Retries up to N_TENT attempts while the
 * device is busy. Answer family 11. Deadline T_CONSULTAR_NUMERO_SESSAO, 00:20. */
SAT_API char* ConsultarNumeroSessao(int numeroSessao, char* codigoDeAtivacao,
                                    int cNumeroDeSessao) SAT_NOEXCEPT;

/* ConfigurarInterfaceDeRede: sends the network settings (XML). Answer family 12.
 * Deadline T_CONFIGURAR_INTERFACE_DE_REDE, built-in 00:20. */
SAT_API char* ConfigurarInterfaceDeRede(int numeroSessao, char* codigoDeAtivacao,
                                        char* dadosConfiguracao) SAT_NOEXCEPT;

/* AssociarAssinatura: binds the software-house signature (assinaturaCNPJs) to the
 * CNPJs in CNPJvalue. Answer family 13. Deadline T_ASSOCIAR_ASSINATURA, 30:00. */
SAT_API char* AssociarAssinatura(int numeroSessao, char* codigoDeAtivacao, char* CNPJvalue,
                                 char* assinaturaCNPJs) SAT_NOEXCEPT;

/* AtualizarSoftwareSAT: makes the device update its software. Answer family 14.
 * Deadline T_ATUALIZAR_SOFTWARE_SAT, built-in 30:00. */
SAT_API char* AtualizarSoftwareSAT(int numeroSessao, char* codigoDeAtivacao) SAT_NOEXCEPT;

/* ExtrairLogs: the device's log, base64 in field 5. Sends the library version
 * "3.0.0.3_x86" along. Answer family 15. Deadline T_EXTRAIR_LOGS, built-in 00:20. */
SAT_API char* ExtrairLogs(int numeroSessao, char* codigoDeAtivacao) SAT_NOEXCEPT;

/* BloquearSAT: blocks the device. Answer family 16.
 * Deadline T_BLOQUEAR_SAT, built-in 05:00. */
SAT_API char* BloquearSAT(int numeroSessao, char* codigoDeAtivacao) SAT_NOEXCEPT;

/* DesbloquearSAT: unblocks the device. Answer family 17.
 * Deadline T_DESBLOQUEAR_SAT, built-in 00:40. */
SAT_API char* DesbloquearSAT(int numeroSessao, char* codigoDeAtivacao) SAT_NOEXCEPT;

/* TrocarCodigoDeAtivacao: replaces the activation code. opcao: 1 the activation
 * code, 2 the emergency code was given in codigoDeAtivacao. Answer family 18.
 * Deadline T_TROCAR_CODIGO_DE_ATIVACAO, built-in 00:20. */
SAT_API char* TrocarCodigoDeAtivacao(int numeroSessao, char* codigoDeAtivacao, int opcao,
                                     char* novoCodigo, char* confNovoCodigo) SAT_NOEXCEPT;

/* ConsultarUltimaSessaoFiscal: the stored answer of the last sale or cancellation.
 * Retries while the device is busy, like ConsultarNumeroSessao. Answer family 19
 * (command 20). Deadline T_CONSULTAR_ULTIMA_SESSAO_FISCAL, built-in 00:20. */
SAT_API char* ConsultarUltimaSessaoFiscal(int numeroSessao, char* codigoDeAtivacao) SAT_NOEXCEPT;

/* SetDriver: changes a setting for the rest of the process (sat.ini is not
 * written) and never talks to the device; it does not block. Starts the library
 * (reads sat.ini) when no call has done so yet. Always prints
 * "Parametro: |<parameter>| - Valor: |<value>|" on standard output.
 *   parameter (case-sensitive prefix)  value                       result
 *   "SERIAL"    device node, "/dev/" put in front when missing;    "OK", "ERRO" when
 *               at most 29 characters in all                       empty or too long
 *   "NO_POPUP"  "true" silences console messages, else on          "OK"
 *   "LOCK"      "true" call lock on, else off                      "OK"
 *   "RET_"      "true" 10099 -> 10001 substitution on, else off    "OK"
 *   "DEBUG"     "true" diagnostic log on, else off                 "OK"
 *   "N_TENT"    two digits "01".."99": attempts                    "OK"; else "ERRO", 1 attempt
 *   "TMP_TEN"   two digits "03".."99": seconds between attempts    "OK"; "ERRO" and 3 for
 *               ("00".."02"), 6 for any other length
 *   "VERSAO"    ignored                                            "3.0.0.3_x86"
 *   "DISCOVER" and anything else                                   "FALHA"
 * A value counts as true when it begins with "true". The result is a constant text. */
SAT_API char* SetDriver(char* parameter, char* value) SAT_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TORVANE_SAT_H */
